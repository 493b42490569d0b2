#!/usr/bin/env bash
# Builds and runs every test: the debug build with all labels (under the headless desktop rig when
# the tests need one), then the core tests again under AddressSanitizer + UBSan and ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

# Labels run again under each sanitizer: the core, without Qt or a desktop.
asan_labels='unit|model|net'
tsan_labels='unit|net'

status=0
run() {
    echo "== $*"
    "$@" || status=1
}

cmake --preset dev >/dev/null
cmake --build --preset dev
if [ -x scripts/rig.sh ]; then
    run scripts/rig.sh ctest --preset dev
else
    run ctest --preset dev
fi

cmake --preset asan >/dev/null
cmake --build --preset asan
run ctest --preset asan -L "$asan_labels"

cmake --preset tsan >/dev/null
cmake --build --preset tsan
run ctest --preset tsan -L "$tsan_labels"
# The key monitor's reader thread and the sound server's loop thread, on the real services.
run scripts/rig.sh ctest --preset tsan -R '^(XInputKeyMonitorTest|SecretStoreTest|Microphone)\.'

exit $status
