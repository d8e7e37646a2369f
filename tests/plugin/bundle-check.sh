#!/usr/bin/env bash
# Installs the plugin into a prefix of its own, then checks it where hosts look: the LV2
# bundle's Turtle against the LV2 schemas (lv2_validate from lv2-dev), lv2ls listing it and
# lv2info reading it from the install tree, and the CLAP and VST3 files in lib/clap and lib/vst3.
#   bundle-check.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" --component plugin >/dev/null
bundle=$prefix/lib/lv2/Varko.lv2
out=$(lv2_validate "$bundle"/*.ttl 2>&1) || { echo "$out"; exit 1; }
if ! grep -q "Found 0 errors" <<<"$out"; then
    echo "$out" | grep -v "^Skipping"
    exit 1
fi
export LV2_PATH=$prefix/lib/lv2
if ! lv2ls | grep -qx "urn:varko:instrument"; then
    echo "lv2ls does not list the plugin:"
    lv2ls
    exit 1
fi
info=$(lv2info urn:varko:instrument)
for want in "Name: *Varko" "Bundle: *file://$bundle/" "Symbol: *status" \
    "Symbol: *resonance" "Symbol: *initial_frequency"; do
    if ! grep -Eq "$want" <<<"$info"; then
        echo "lv2info does not show '$want':"
        echo "$info"
        exit 1
    fi
done
test -f "$prefix/lib/clap/Varko.clap" || { echo "no lib/clap/Varko.clap"; exit 1; }
test -f "$prefix/lib/vst3/Varko.vst3/Contents/x86_64-linux/Varko.so" ||
    { echo "no VST3 bundle in lib/vst3"; exit 1; }
echo "the installed bundles are valid and listed"
