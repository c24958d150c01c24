#!/bin/bash
# The metrics files of gputuner --check (over the demo fake host), matpulse, xferclock and
# vidprobe (on the emulated platform): `promtool check metrics` accepts each, and a real
# prometheus-node-exporter on 127.0.0.1 with its textfile directory pointed at them serves them
# with node_textfile_scrape_error 0. The exporter is stopped and everything removed at the end.
#
# usage: metrics_test.sh GPUTUNER FAKEHOST_DEMO MATPULSE XFERCLOCK VIDPROBE
# exit 0 passed, 1 failed, 77 skipped (reason printed)
set -u
gputuner=$(realpath "$1") demo=$(realpath "$2") matpulse=$(realpath "$3") xferclock=$(realpath "$4")
vidprobe=$(realpath "$5")

skip() { echo "SKIP: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root to bind the fake host over /sys"
for p in promtool prometheus-node-exporter ffmpeg curl python3 setpci unshare; do
    command -v "$p" >/dev/null || skip "$p not installed (scripts/setup.sh installs prometheus, prometheus-node-exporter, ffmpeg, curl, pciutils)"
done

work=$(mktemp -d /tmp/quelvan-metrics-XXXXXX)
textdir="$work/textfile"
exporter=
stop_all() {
    if [ -n "$exporter" ]; then
        kill "$exporter" 2>/dev/null
        wait "$exporter" 2>/dev/null
    fi
    rm -rf "$work"
}
trap stop_all EXIT
trap "exit 1" TERM INT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

mkdir -p "$textdir"
"$demo" "$work/host" >/dev/null || { echo "FAIL: cannot write the fake host"; exit 1; }
unshare -m --propagation private sh -c "mount --bind '$work/host/bus/pci' /sys/bus/pci &&
    mount --bind '$work/host/devices' /sys/devices &&
    exec '$gputuner' --check --prom-file '$textdir/gputuner.prom'" >/dev/null
[ $? -eq 1 ] || fail "gputuner --check on the demo host should say unhealthy (1)"
QUELVAN_SIM_GPUS=2 "$matpulse" --m 256 --n 256 --k 256 --l 2 --v --i 0,1 --prom-file "$textdir/matpulse.prom" >/dev/null 2>&1
QUELVAN_SIM_GPUS=1 "$xferclock" --start 4kb --end 64kb --factor 4 --repeats 5 --prom-file "$textdir/xferclock.prom" >/dev/null 2>&1
ffmpeg -loglevel error -f lavfi -i testsrc=size=176x144:rate=25 -frames:v 10 -c:v libx264 -f h264 "$work/clip.h264" ||
    fail "ffmpeg could not make the test stream"
(cd "$work" && "$vidprobe" --instance-num 1 --input "$work/clip.h264" --codec 0 --prom-file "$textdir/vidprobe.prom" >/dev/null 2>&1)
# A run that finds no device still leaves a valid file saying so.
QUELVAN_SIM_GPUS=0 "$matpulse" --prom-file "$work/matpulse-nogpu.prom" >/dev/null 2>&1
grep -qx 'quelvan_matpulse_status 3' "$work/matpulse-nogpu.prom" || fail "a run without GPU does not report status 3"

for f in "$textdir"/{gputuner,matpulse,xferclock,vidprobe}.prom "$work/matpulse-nogpu.prom"; do
    if [ ! -s "$f" ]; then fail "$f was not written"; continue; fi
    out=$(promtool check metrics <"$f" 2>&1) || fail "promtool check metrics $(basename "$f"): $out"
done
leftovers=$(find "$textdir" -type f ! -name '*.prom')
[ -z "$leftovers" ] || fail "temporary files left behind: $leftovers"

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
prometheus-node-exporter --web.listen-address="127.0.0.1:$port" --collector.disable-defaults --collector.textfile \
    --collector.textfile.directory="$textdir" >"$work/exporter.log" 2>&1 &
exporter=$!
scrape=
for _ in $(seq 50); do
    scrape=$(curl -fsS "http://127.0.0.1:$port/metrics" 2>/dev/null) && break
    sleep 0.2
done
[ -n "$scrape" ] || { fail "node_exporter did not answer"; cat "$work/exporter.log"; exit 1; }

grep -qx 'node_textfile_scrape_error 0' <<<"$scrape" || fail "node_textfile_scrape_error is not 0: $(grep textfile <<<"$scrape")"
for want in 'quelvan_gputuner_status 2' \
    'quelvan_pcie_link_speed_transfers_per_second{gpu="1",pci_bus_id="0000:3e:00.0"} 2.5e+09' \
    'quelvan_pcie_link_max_speed_transfers_per_second{gpu="1",pci_bus_id="0000:3e:00.0"} 1.6e+10' \
    'quelvan_pcie_max_payload_size_bytes{gpu="4",pci_bus_id="0000:60:00.0"} 256' \
    'quelvan_pcie_acs_enabled{gpu="0",pci_bus_id="0000:3d:00.0"} 1' \
    'quelvan_matpulse_verification_passed{gpu="1",pci_bus_id="0000:02:00.0"} 1' \
    'quelvan_matpulse_status 0' 'quelvan_xferclock_status 0' 'quelvan_vidprobe_status 0' \
    'quelvan_vidprobe_decoded_frames{gpu="0",pci_bus_id="0000:01:00.0"} 10'; do
    grep -qxF "$want" <<<"$scrape" || fail "the scrape lacks: $want"
done
for family in quelvan_gputuner_last_run_timestamp_seconds quelvan_matpulse_operations_per_second \
    quelvan_xferclock_gpu_latency_seconds quelvan_vidprobe_frames_per_second; do
    grep -q "^$family" <<<"$scrape" || fail "the scrape lacks $family"
done
echo "scrape of node_exporter on 127.0.0.1:$port, our samples and the textfile collector's:"
grep -E '^(quelvan_|node_textfile_scrape_error)' <<<"$scrape"

[ "$failures" -eq 0 ] || exit 1
echo "PASS"
