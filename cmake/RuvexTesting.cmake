find_package(GTest REQUIRED)
include(GoogleTest)

# ruvex_add_test(<name> LABEL <label> SOURCES <files...> LIBS <targets...> [MAIN_PROVIDED] [TIMEOUT s] [ENV ...])
# One test executable; its cases are discovered when CTest runs, labelled for the rig.
function(ruvex_add_test name)
    cmake_parse_arguments(T "MAIN_PROVIDED" "LABEL;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} testsupport GTest::gtest GTest::gmock)
    if(NOT T_MAIN_PROVIDED)
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    # Test environment through a launcher: list-valued test properties do not survive test discovery.
    if(T_ENV)
        set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "${CMAKE_COMMAND};-E;env;${T_ENV}")
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
endfunction()
