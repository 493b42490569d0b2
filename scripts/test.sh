#!/usr/bin/env bash
# Builds and runs every test: the debug build with all labels (under the headless desktop rig when
# the tests need one; the wayland label under the headless Wayland rig, on sway, Mutter and KWin), then
# the core tests again under AddressSanitizer + UBSan and ThreadSanitizer.
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
    run scripts/rig.sh ctest --preset dev -LE wayland
else
    run ctest --preset dev -LE wayland
fi
for compositor in sway mutter; do
    run env RUVEX_RIG_COMPOSITOR=$compositor scripts/wayland-rig.sh ctest --preset dev -L wayland
done
# KWin with a layout that has no Latin letters: its paste keys are read in the user's layout.
run env RUVEX_RIG_COMPOSITOR=kwin RUVEX_RIG_LAYOUT=ru scripts/wayland-rig.sh ctest --preset dev -L wayland

cmake --preset asan >/dev/null
cmake --build --preset asan
run ctest --preset asan -L "$asan_labels"

cmake --preset tsan >/dev/null
cmake --build --preset tsan
run ctest --preset tsan -L "$tsan_labels"
# The key monitor's reader thread and the sound server's loop thread, on the real services.
run scripts/rig.sh ctest --preset tsan -R '^(XInputKeyMonitorTest|SecretStoreTest|Microphone)\.'
# The Wayland connections' reader threads and the clipboard's writer, on sway (with the debug
# build's Qt fixtures: the sanitizer build has no Qt).
run env RUVEX_FIXTURE_DIR="$PWD/build/dev/tests/fixtures" scripts/wayland-rig.sh ctest --preset tsan -L wayland

exit $status
