#!/bin/bash
# One prepared check of the real-GPU flavours on a GPU host, against bare peers in the same run:
# matpulse on GPU 0 for the five element types (default sizes, timed loop of 20) against a bare
# cuBLASLt loop of the same shape (bench/gemm_peer.cpp), a verified small run of each type, and
# xferclock against a bare event-timed cudaMemcpyAsync loop (bench/memcpy_peer.cpp). Prints one
# table: ours, the peer, the ratio. Needs only the built tree (no network, no packages); takes a
# few minutes on one H100.
#
#   scripts/gpu_check.sh [--build DIR]   real flavour: DIR/bin/{matpulse,xferclock,gemm_peer,memcpy_peer}
#   scripts/gpu_check.sh --sim [--build DIR]
#                                        the emulated flavour (DIR/bin/sim/) under NVIDIA's library
#                                        rules, small sizes, peers not available
# Exit status: 0 when every program ran and every verified run passed, 1 otherwise.
set -u

build=build
sim=0
while [ $# -gt 0 ]; do
    case "$1" in
    --sim) sim=1 ;;
    --build) build="$2"; shift ;;
    *) echo "usage: $0 [--sim] [--build DIR]" >&2; exit 2 ;;
    esac
    shift
done

if [ "$sim" = 1 ]; then
    bin="$build/bin/sim"
    export QUELVAN_SIM_RULES=nvidia
    # Products the host CPU computes in moments instead of the default sizes.
    timed_size="--m 256 --n 256 --k 512"
    loops=2
else
    bin="$build/bin"
    timed_size=""
    loops=20
fi
matpulse="$bin/matpulse"
xferclock="$bin/xferclock"
gemm_peer="$build/bin/gemm_peer"
memcpy_peer="$build/bin/memcpy_peer"
failed=0
rows=()

say() { printf '%s\n' "$*"; }
row() { rows+=("$(printf '%-34s %14s %14s %8s' "$1" "$2" "$3" "$4")"); }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b + 0 == 0) print "n/a"; else printf "%.3f", a / b }'; }

# Runs a command, shows it and its output, and keeps the output in $out.
run() {
    say "\$ $*"
    out=$("$@" 2>&1)
    local status=$?
    say "$out"
    if [ $status -ne 0 ]; then
        say "(exit status $status)"
        failed=1
    fi
    return $status
}

for program in "$matpulse" "$xferclock"; do
    if [ ! -x "$program" ]; then
        say "missing $program: build the tree first (cmake --build $build)"
        exit 1
    fi
done
peers=0
if [ "$sim" = 0 ] && [ -x "$gemm_peer" ] && [ -x "$memcpy_peer" ]; then
    peers=1
fi

# A carried tree must find every shared library here.
for program in "$matpulse" "$xferclock" $([ $peers = 1 ] && echo "$gemm_peer $memcpy_peer"); do
    missing=$(ldd "$program" 2>&1 | grep "not found")
    if [ -n "$missing" ]; then
        say "$program cannot find its libraries:"
        say "$missing"
        exit 1
    fi
done

if [ "$sim" = 1 ]; then
    say "emulated platform, QUELVAN_SIM_RULES=nvidia: no GPU, peers not available"
else
    run nvidia-smi -L
fi

names=(FP32 FP16 INT8 BF16 FP64)
for type in 0 1 2 3 4; do
    name=${names[$type]}
    # shellcheck disable=SC2086
    run "$matpulse" --i 0 --d "$type" --l "$loops" $timed_size
    ours=$(printf '%s\n' "$out" | sed -n 's/^avg elapse: .* ms, T\(FL\)\{0,1\}OPs: \([0-9.]*\)$/\2/p')
    [ -n "$ours" ] || failed=1
    peer=""
    if [ $peers = 1 ]; then
        read -r m n k ta tb < <(printf '%s\n' "$out" | sed -n \
            's/^Benchmarking GEMM: M = \([0-9]*\) N = \([0-9]*\) K = \([0-9]*\) Transpose A: \([01]\) Transpose B: \([01]\).*/\1 \2 \3 \4 \5/p')
        # INT8 runs in the TN form, whatever the flags; so does its peer.
        [ "$type" = 2 ] && ta=1 && tb=0
        if run "$gemm_peer" "$type" "$m" "$n" "$k" "$loops" "$ta" "$tb"; then
            peer=$(printf '%s\n' "$out" | awk '/^peer / { print $7 }')
        fi
    fi
    row "matpulse $name TFLOP/s (TOP/s)" "${ours:-failed}" "${peer:-n/a}" "$(ratio "$ours" "$peer")"
done

for type in 0 1 2 3 4; do
    run "$matpulse" --i 0 --d "$type" --m 256 --n 256 --k 256 --v
    verdict=$(printf '%s\n' "$out" | grep -c '^PASS!$')
    if [ "$verdict" != 1 ]; then
        verdict=FAIL
        failed=1
    else
        verdict=PASS
    fi
    row "matpulse ${names[$type]} --v 256^3" "$verdict" "" ""
done

run "$xferclock" --device 0
latencies=$out
run "$xferclock" --device 0 --start 1mb --end 1mb --factor 2
latencies="$latencies
$out"
peer_out=""
if [ $peers = 1 ] && run "$memcpy_peer" 0 h2d 100 4096 65536 1048576; then
    peer_out=$out
fi
for bytes in 4096 65536 1048576; do
    ours=$(printf '%s\n' "$latencies" | awk -v size="$bytes" \
        '$1 == "H2D" && $2 == "Transfer" { split($3, s, "="); if (s[2] + 0 == size) print $(NF - 1) }' | head -n 1)
    [ -n "$ours" ] || failed=1
    peer=$(printf '%s\n' "$peer_out" | awk -v size="$bytes" '$1 == "peer" && $2 == size { print $3 }')
    row "xferclock H2D $bytes B, GPU us" "${ours:-failed}" "${peer:-n/a}" "$(ratio "$ours" "$peer")"
done

say ""
say "$(printf '%-34s %14s %14s %8s' check ours peer ratio)"
printf '%s\n' "${rows[@]}"
say "(ratio = ours / peer: throughput, higher is better; latency, lower is better)"
exit $failed
