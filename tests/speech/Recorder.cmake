ruvex_add_test(test_recorder LABEL unit
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecorderTest.cpp
    LIBS recorder)
ruvex_add_test(test_recorder_pulse LABEL system
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecorderPulseTest.cpp
    LIBS recorder platform_linux)
