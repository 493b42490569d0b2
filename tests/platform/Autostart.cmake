ruvex_add_test(test_autostart LABEL unit
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/AutostartTest.cpp
    LIBS platform_autostart)
target_compile_definitions(test_autostart PRIVATE RUVEX_DESKTOP_ENTRY="${PROJECT_SOURCE_DIR}/data/ruvex-voice.desktop")
