#!/usr/bin/env bash
# The VST3 bundle loaded by the one VST3 host Debian ships: Ardour's scanner loads the module,
# creates the instrument and reads its buses, as Ardour does before offering a plugin.
#   vst3-scan.sh BUNDLE
set -euo pipefail
scanner=$(ls /usr/lib/ardour*/ardour-vst3-scanner 2>/dev/null | tail -n 1)
[[ -n $scanner ]] || { echo "no ardour-vst3-scanner (Debian's ardour package)"; exit 1; }
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
out=$(HOME=$home XDG_CACHE_HOME=$home LD_LIBRARY_PATH=$(dirname "$scanner") \
    timeout 120 "$scanner" -f -v "$1" 2>&1) || { echo "$out"; exit 1; }
for want in "Found Plugin: Varko" 'category="Instrument|Synth"' 'n_outputs="2"' \
    'n_midi_inputs="1"'; do
    grep -qF "$want" <<<"$out" || { echo "the scan does not show '$want':"; echo "$out"; exit 1; }
done
echo "Ardour's scanner loads the VST3 instrument"
