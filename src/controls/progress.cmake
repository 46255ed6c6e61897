# Qt-free progress arithmetic: the window's bar and the command line share it.
add_library(progress STATIC ${CMAKE_CURRENT_LIST_DIR}/progress_model.cpp)
target_include_directories(progress PUBLIC ${PROJECT_SOURCE_DIR}/src)
