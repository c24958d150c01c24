#!/usr/bin/env bash
# Builds the Debian package from a Release tree without tests and benchmarks, then checks it as
# a user of it would see it: its file list, every installed program started from the package
# unpacked into a temporary root (never installed on this machine), lintian and the hardening
# checker. Called by scripts/test.sh; build directory as the first argument (default build-pkg).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-pkg}
step() { printf '\npackage: %s\n' "$*"; }
fail() { printf 'package: FAILED: %s\n' "$*"; exit 1; }

step "configure and build $dir (Release, BUILD_TESTING=OFF, warnings as errors)"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DQUELVAN_BUILD_BENCH=OFF \
  -DQUELVAN_WERROR=ON >/dev/null
cmake --build "$dir" -j "$(nproc)"
rm -f "$dir"/quelvan-ostrel-utils_*.deb
cmake --build "$dir" --target package >/dev/null
debs=("$dir"/quelvan-ostrel-utils_*_amd64.deb)
[ -f "${debs[0]}" ] || fail "no quelvan-ostrel-utils_<version>_amd64.deb in $dir"
deb=${debs[0]}
real_gpu=$(sed -n 's/^QUELVAN_REAL_GPU:BOOL=//p' "$dir/CMakeCache.txt")
echo "package: built $deb ($(stat -c %s "$deb") bytes; real-GPU flavour: $real_gpu)"

step "file list"
list=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
must=(/usr/sbin/gputuner /usr/bin/matpulse-sim /usr/bin/xferclock-sim /usr/bin/vidprobe-sim
      /usr/share/man/man8/gputuner.8.gz /usr/share/man/man1/matpulse.1.gz
      /usr/share/man/man1/matpulse-sim.1.gz /usr/share/man/man1/xferclock.1.gz
      /usr/share/man/man1/xferclock-sim.1.gz /usr/share/man/man1/vidprobe-sim.1.gz
      /usr/share/doc/quelvan-ostrel-utils/copyright /usr/share/doc/quelvan-ostrel-utils/changelog.gz
      /usr/lib/systemd/system/quelvan-metrics.service /usr/lib/systemd/system/quelvan-metrics.timer
      /usr/lib/systemd/system/quelvan-pcie-profile.service
      /usr/share/doc/quelvan-ostrel-utils/examples/quelvan-healthcheck)
[ "$real_gpu" = ON ] && must+=(/usr/bin/matpulse /usr/bin/xferclock)
for path in "${must[@]}"; do
  grep -qx "$path" <<<"$list" || fail "missing $path"
done
# Tests, benchmarks, demos, harnesses and the installers stay out, and nothing lands outside /usr.
unwanted=$(grep -E '_test|tests|bench|demo|harness|installer|fakehost|/usr/local/' <<<"$list" || true)
[ -z "$unwanted" ] || fail "must not be packaged: $unwanted"
outside=$(grep -vE '^/$|^/usr(/|$)' <<<"$list" || true)
[ -z "$outside" ] || fail "outside /usr: $outside"
echo "package: file list OK (${#must[@]} required paths present, nothing unwanted)"

step "unpacked into a temporary root, each program started from there"
root=$(mktemp -d /tmp/quelvan-pkg.XXXXXX)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
check_run() { # program args...
  local out
  out=$("$root/$1" "${@:2}" 2>&1) || fail "$1 ${*:2} exited with $?: $out"
  printf 'package: %-28s %s\n' "$1 ${*:2}" "OK ($(head -n 1 <<<"$out" | cut -c1-50))"
}
check_run usr/sbin/gputuner --help
check_run usr/bin/matpulse-sim --help
check_run usr/bin/xferclock-sim --version
check_run usr/bin/vidprobe-sim -h
# The real flavour links the toolkit's libcudart and libcublas (the GPU driver is loaded only when
# a GPU is used, so --help runs without one); where ld.so cannot find them, that is reported.
for prog in matpulse xferclock; do
  [ -x "$root/usr/bin/$prog" ] || continue
  missing=$(ldd "$root/usr/bin/$prog" | awk '/not found/ {print $1}' | tr '\n' ' ')
  if [ -n "$missing" ]; then
    echo "package: usr/bin/$prog not started: ld.so does not find ${missing}(the CUDA toolkit's)"
    continue
  fi
  check_run "usr/bin/$prog" "$([ $prog = matpulse ] && echo --help || echo --version)"
done

step "lintian"
lintian_out=$(lintian --allow-root "$deb" 2>&1 || true)
printf '%s\n' "${lintian_out:-(no tags)}"
! grep -q '^E:' <<<"$lintian_out" || fail "lintian reports errors"
! grep -q '^W:' <<<"$lintian_out" || fail "lintian reports warnings"
echo "package: lintian OK (no errors, no warnings)"

step "hardening-check"
# Control-flow protection is left out of the check: Debian 12's C start-up files carry no CET
# marking, so no program linked on it can show one, whatever it was compiled with.
mapfile -t programs < <(find "$root/usr/bin" "$root/usr/sbin" -type f | sort)
hardening-check --nocfprotection "${programs[@]}" | sed "s|$root||" || fail "hardening-check found an unhardened binary"
echo "package: all checks passed"
