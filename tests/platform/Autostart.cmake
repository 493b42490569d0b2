ruvex_add_test(test_autostart LABEL unit
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/AutostartTest.cpp
    LIBS platform_autostart)
