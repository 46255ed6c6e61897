# The Qt progress bar; its arithmetic comes from the Qt-free `progress` library.
add_library(progressbar STATIC ${CMAKE_CURRENT_LIST_DIR}/ui_progress_bar.cpp
                               ${CMAKE_CURRENT_LIST_DIR}/ui_progress_bar.h)
target_include_directories(progressbar PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(progressbar PUBLIC progress Qt6::Widgets)
