#!/usr/bin/env bash
# Installs what the build and the tests need, and nothing that is already there:
# the Debian packages listed in scripts/packages/*.txt and the pinned sherpa-onnx binaries.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

sudo_cmd=()
if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi

wanted=()
while read -r pkg; do
    [ -n "$pkg" ] && wanted+=("$pkg")
done < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$root"/scripts/packages/*.txt | sort -u)
command -v npm >/dev/null 2>&1 || wanted+=(npm)

missing=()
for pkg in "${wanted[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# sherpa-onnx C API and ONNX Runtime, from the npm registry at a pinned version.
sherpa_version=1.13.4
sherpa_integrity='sha512-WZh5NCkGPFHHpYSd78iN4OnmxQeSTGyt9uZskH+im/NFHQ7elQ7B0sLzCMeRpvJxiIKvd9C6WxIJ4hYaxClfsQ=='
sherpa_dir="$root/third_party/sherpa-onnx"
if [ "$(cat "$sherpa_dir/VERSION" 2>/dev/null || true)" != "$sherpa_version" ]; then
    echo "setup: fetching sherpa-onnx-linux-x64@$sherpa_version"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    (cd "$work" && npm pack --silent "sherpa-onnx-linux-x64@$sherpa_version" >/dev/null)
    tarball="$work/sherpa-onnx-linux-x64-$sherpa_version.tgz"
    actual="sha512-$(openssl dgst -sha512 -binary "$tarball" | base64 -w0)"
    if [ "$actual" != "$sherpa_integrity" ]; then
        echo "setup: sherpa-onnx tarball integrity mismatch: $actual" >&2
        exit 1
    fi
    tar -xzf "$tarball" -C "$work"
    rm -rf "$sherpa_dir"
    mkdir -p "$sherpa_dir/lib"
    cp "$work/package/libsherpa-onnx-c-api.so" "$work/package/libonnxruntime.so" "$sherpa_dir/lib/"
    echo "$sherpa_version" >"$sherpa_dir/VERSION"
fi
