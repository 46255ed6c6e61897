# Port discovery (target comports): plain C++, used by the window and the command line.
# Included from src/app/CMakeLists.txt.
if(TARGET serial AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/comports_${LOADER_PLATFORM}.cpp)
  add_library(comports STATIC ${CMAKE_CURRENT_SOURCE_DIR}/comports_${LOADER_PLATFORM}.cpp)
  target_include_directories(comports PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(comports PUBLIC serial)
endif()
