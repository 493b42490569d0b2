# The native Wayland backend against real compositors, inside scripts/wayland-rig.sh (label wayland):
# the clipboard, the paste keys and the focused window without Qt (so also under ThreadSanitizer),
# the layer-shell pill, and the program itself.
ruvex_add_test(test_wayland_desktop LABEL wayland TIMEOUT 300
    SOURCES platform/WaylandClipboardTest.cpp platform/WaylandKeysTest.cpp platform/WaylandFocusTest.cpp
    LIBS desktopsupport platform_wayland platform_linux output core)

if(NOT RUVEX_CORE_ONLY)
    add_dependencies(test_wayland_desktop fixture_text_target fixture_clipboard_owner)
    ruvex_add_test(test_wayland_pill LABEL wayland
        SOURCES platform/WaylandPillTest.cpp
        LIBS desktopsupport platform_wayland platform_linux platform_qt ui)
    pkg_check_modules(WAYLAND_TEST_GIO REQUIRED IMPORTED_TARGET gio-2.0)
    ruvex_add_test(test_wayland_program LABEL wayland TIMEOUT 300
        SOURCES platform/WaylandProgramTest.cpp
        LIBS desktopsupport tonesupport platform_linux PkgConfig::WAYLAND_TEST_GIO)
    target_compile_definitions(test_wayland_program PRIVATE
        RUVEX_DESKTOP_ENTRY="${PROJECT_SOURCE_DIR}/data/app.ruvex.voice.desktop.in")
    add_dependencies(test_wayland_program ruvex-voice fixture_text_target)
endif()
