#!/bin/bash
# systemd-analyze verify over every unit under contrib/systemd, in a scratch root that holds
# systemd's own units and the built gputuner where the units expect it (/usr/sbin).
#
# usage: units_test.sh GPUTUNER
# exit 0 passed, 1 failed, 77 skipped (reason printed)
set -u
gputuner=$(realpath "$1")
units=$(cd "$(dirname "$0")/../systemd" && pwd)
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze not installed (package systemd)"; exit 77; }
[ -d /usr/lib/systemd/system ] || { echo "SKIP: no systemd unit directory on this machine"; exit 77; }

root=$(mktemp -d /tmp/quelvan-units-XXXXXX)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/usr/sbin" "$root/usr/lib/systemd" "$root/etc/systemd/system"
cp -a /usr/lib/systemd/system "$root/usr/lib/systemd/"
cp "$gputuner" "$root/usr/sbin/gputuner"
cp "$units"/* "$root/etc/systemd/system/"

names=()
for unit in "$units"/*; do names+=("/etc/systemd/system/$(basename "$unit")"); done
if ! out=$(systemd-analyze verify --root="$root" "${names[@]}" 2>&1) || [ -n "$out" ]; then
    echo "FAIL: systemd-analyze verify:"
    echo "$out"
    exit 1
fi
echo "PASS: ${#names[@]} units verified"
