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
    LIBS platform_portal PkgConfig::TEST_GIO)
