# The native Wayland backend against real compositors, inside scripts/wayland-rig.sh (label wayland):
# the clipboard, the paste keys and the focused window without Qt (so also under ThreadSanitizer),
# the layer-shell pill, and the program itself.
add_library(waylanddesktop STATIC ${CMAKE_CURRENT_SOURCE_DIR}/support/WaylandDesktop.cpp)
target_include_directories(waylanddesktop PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/src)
target_compile_definitions(waylanddesktop PUBLIC RUVEX_FIXTURE_DIR="${CMAKE_BINARY_DIR}/tests/fixtures")
target_link_libraries(waylanddesktop PUBLIC platform_wayland core)

ruvex_add_test(test_wayland_desktop LABEL wayland TIMEOUT 300
    SOURCES platform/WaylandClipboardTest.cpp platform/WaylandKeysTest.cpp platform/WaylandFocusTest.cpp
    LIBS waylanddesktop platform_wayland platform_linux output core)

if(NOT RUVEX_CORE_ONLY)
    add_dependencies(test_wayland_desktop fixture_text_target fixture_clipboard_owner)
endif()

if(NOT RUVEX_CORE_ONLY)
    ruvex_add_test(test_wayland_pill LABEL wayland
        SOURCES platform/WaylandPillTest.cpp
        LIBS waylanddesktop platform_wayland platform_linux platform_qt ui)
    ruvex_add_test(test_wayland_program LABEL wayland
        SOURCES platform/WaylandProgramTest.cpp
        LIBS waylanddesktop)
    target_compile_definitions(test_wayland_program PRIVATE RUVEX_VOICE_PROGRAM="$<TARGET_FILE:ruvex-voice>"
        RUVEX_DESKTOP_ENTRY="${PROJECT_SOURCE_DIR}/data/app.ruvex.voice.desktop.in")
    add_dependencies(test_wayland_program ruvex-voice)
endif()
