# The loader window (Qt 6 Widgets): a library with the windows, so the tests drive the
# very same code, and the `loader` executable that starts it.

# Until every module the window builds on exists, leave the window out rather than
# break everyone's build.
foreach(dep windowlogic engine serial settings progressbar oh2b)
  if(NOT TARGET ${dep})
    message(STATUS "loader window: skipped until library ${dep} exists")
    return()
  endif()
endforeach()

add_library(loaderwindow STATIC
  ${CMAKE_CURRENT_LIST_DIR}/app_error.cpp
  ${CMAKE_CURRENT_LIST_DIR}/image_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/loader_application.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qt_synchronizer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/unit1.cpp
  ${CMAKE_CURRENT_LIST_DIR}/unit2.cpp)
set_target_properties(loaderwindow PROPERTIES AUTOMOC ON AUTORCC ON)
target_include_directories(loaderwindow PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(loaderwindow PUBLIC windowlogic engine serial settings progressbar oh2b
                                           Qt6::Widgets Threads::Threads)

add_executable(loader ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
set_target_properties(loader PROPERTIES AUTOMOC ON AUTORCC ON)
target_link_libraries(loader PRIVATE loaderwindow loaderversion)
