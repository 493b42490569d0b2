# The microphone recorder: its own small target until it joins the speech library.
add_library(recorder STATIC ${CMAKE_CURRENT_LIST_DIR}/Recorder.cpp)
target_include_directories(recorder PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(recorder PUBLIC core platform)
