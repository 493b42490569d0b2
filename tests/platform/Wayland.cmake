# The desktop layer of Wayland sessions. `unit`: no desktop; these also run under both sanitizers
# (the key monitor's reader and the uinput sender's thread under ThreadSanitizer).
ruvex_add_test(test_evdev_keys LABEL unit
    SOURCES platform/EvdevTest.cpp platform/UinputKeySenderTest.cpp
    LIBS platform_evdev appcore)

# The RemoteDesktop portal sender against a fake portal on a private bus the test starts itself
# (dbus-daemon through GTestDBus).
pkg_check_modules(TEST_GIO REQUIRED IMPORTED_TARGET gio-2.0)
ruvex_add_test(test_portal_keys LABEL system
    SOURCES platform/PortalKeySenderTest.cpp
    LIBS platform_portal PkgConfig::TEST_GIO GTest::gmock)

# What the first-run window and the tray menu say about keyboard access (Qt offscreen).
if(NOT RUVEX_CORE_ONLY)
    find_package(Qt6 REQUIRED COMPONENTS Widgets)
    ruvex_add_test(test_keyboard_access_windows LABEL gui
        SOURCES platform/KeyboardAccessWindowsTest.cpp ui/GuiTest.cpp
        LIBS ui Qt6::Widgets
        ENV QT_QPA_PLATFORM=offscreen)
    target_compile_definitions(test_keyboard_access_windows PRIVATE
        RUVEX_SCREENSHOTS_DIR="${CMAKE_BINARY_DIR}/screenshots")
endif()
