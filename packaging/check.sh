#!/usr/bin/env bash
# The package's checks (CTest label `package`): builds the package as `make package` does, lints it,
# validates its menu entry and metadata, and runs the program unpacked from it with an empty
# LD_LIBRARY_PATH, so that every library has to come from the system or from the package itself.
#
# Usage: check.sh SOURCE_DIR VERSION TONE_MODEL_DIR
set -euo pipefail
root=$1
version=$2
model=$3
cd "$root"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

echo "== make package"
if ! { cmake --preset release && cmake --build --preset release --target package; } >"$work/build.log" 2>&1; then
    cat "$work/build.log"
    echo "FAILED: the package did not build"
    exit 1
fi
deb="build/ruvex-voice_${version}_amd64.deb"
ls -l "$deb"

echo "== lintian"
# Left on purpose: CPack calls ldconfig from postinst and postrm for any library one folder below
# /usr/lib. The call is harmless (ldconfig does not look into the private folder), and replacing
# CPack's scripts by hand-written ones would be worse.
lintian --fail-on error,warning --suppress-tags maintscript-calls-ldconfig "$deb" || fail "lintian"

tree="$work/tree"
dpkg-deb -x "$deb" "$tree"

echo "== menu entry and metadata"
entry="$tree/usr/share/applications/app.ruvex.voice.desktop"
desktop-file-validate "$entry" || fail "desktop-file-validate"
grep -qx 'Exec=/usr/bin/ruvex-voice' "$entry" || fail "the menu entry does not start /usr/bin/ruvex-voice"
icon=$(sed -n 's/^Icon=//p' "$entry")
for size in scalable/apps/$icon.svg 128x128/apps/$icon.png; do
    [ -s "$tree/usr/share/icons/hicolor/$size" ] || fail "no icon $size"
done
appstreamcli validate --no-net "$tree/usr/share/metainfo/app.ruvex.voice.metainfo.xml" || fail "appstreamcli"

echo "== the unpacked program"
program="$tree/usr/bin/ruvex-voice"
# A clean environment: no library path, and a home of its own so the user's dictionary stays out.
run() { env -i PATH=/usr/bin:/bin HOME="$work/home" LD_LIBRARY_PATH= "$program" "$@"; }
shown=$(run --version) || fail "--version failed"
[ "$shown" = "ruvex-voice $version" ] || fail "--version printed '$shown'"
run --help >"$work/help" || fail "--help failed"
grep -q -- '--transcribe' "$work/help" || fail "--help does not list --transcribe"
packaging/tone_phrase.py "$work/speech.wav" "привет мир"
heard=$(run --transcribe --model "$model" "$work/speech.wav") || fail "--transcribe failed"
[ "$heard" = "Привет мир" ] || fail "--transcribe printed '$heard'"

echo "== ldd"
env LD_LIBRARY_PATH= ldd "$program" | tee "$work/ldd"
# Each library resolves: the two private ones to the package's folder, the others to the system's.
while read -r name arrow path _; do
    [ "$arrow" = "=>" ] || continue
    if [ "$path" = "not" ]; then
        fail "$name is not found"
        continue
    fi
    path=$(realpath "$path")
    case "$name" in
        libsherpa-onnx-c-api.so | libonnxruntime.so) [ "$path" = "$tree/usr/lib/ruvex-voice/$name" ] ;;
        *) [[ "$path" == /usr/lib/* || "$path" == /lib/* || "$path" == /lib64/* ]] ;;
    esac || fail "$name resolves to '$path'"
done <"$work/ldd"
[ "$(grep -c -e '^\s*libsherpa-onnx-c-api.so =>' -e '^\s*libonnxruntime.so =>' "$work/ldd")" = 2 ] ||
    fail "ldd does not list both private libraries"

if [ "$failures" -gt 0 ]; then
    echo "$failures package checks failed"
    exit 1
fi
echo "all package checks passed"
