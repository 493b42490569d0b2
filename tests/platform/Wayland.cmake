# The desktop layer of Wayland sessions. `unit`: no desktop; these also run under both sanitizers
# (the key monitor's reader and the uinput sender's thread under ThreadSanitizer).
ruvex_add_test(test_evdev_keys LABEL unit
    SOURCES platform/EvdevTest.cpp platform/UinputKeySenderTest.cpp
    LIBS platform_evdev appcore)
