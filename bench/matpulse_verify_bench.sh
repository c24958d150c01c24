#!/bin/sh
# A default-size verified run (matpulse --i 0 --v) of two builds, taken in turns: wall, user and
# system time and peak resident memory of each, under /usr/bin/time (Debian package "time").
# Goal: the new build's peak memory at most 2.9 GB and its wall time half the old one's.
# Usage: matpulse_verify_bench.sh OLD_MATPULSE NEW_MATPULSE [ROUNDS] [extra matpulse options]
set -eu
old=$(realpath "$1")
new=$(realpath "$2")
rounds=${3:-2}
if [ $# -ge 3 ]; then shift 3; else shift $#; fi
printf '%-4s %5s %8s %8s %8s %9s  %s\n' build round wall_s user_s sys_s peak_MiB "load average"
for round in $(seq "$rounds"); do
  for side in old new; do
    bin=$old
    [ "$side" = new ] && bin=$new
    load=$(cut -d' ' -f1-3 /proc/loadavg)
    stats=$( { /usr/bin/time -f '%e %U %S %M' "$bin" --i 0 --v "$@" >/tmp/matpulse_verify_bench.out; } 2>&1 | tail -n 1)
    grep -q 'PASS!' /tmp/matpulse_verify_bench.out || echo "$side: no PASS! line" >&2
    echo "$side $round $stats $load" |
      awk '{printf "%-4s %5s %8.1f %8.1f %8.1f %9.0f  %s %s %s\n", $1, $2, $3, $4, $5, $6 / 1024, $7, $8, $9}'
  done
done
