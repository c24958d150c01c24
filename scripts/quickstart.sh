#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs each program on its embedded default:
# the emulated GPU platform, and a demo fake PCI host where no Quelvan hardware is present.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc)"

demo=$(mktemp -d /tmp/quelvan-demo.XXXXXX)
trap 'rm -rf "$demo"' EXIT
step() { printf '\n==> %s\n' "$*"; }

# gputuner over a demo fake host (8 GPUs behind two PCIe switches on two root ports, one link
# downgraded, ACS on), bound over /sys in a private mount namespace so the real setpci and lspci
# read it. Needs root, as gputuner itself does.
build/bin/fakehost-demo "$demo/host" >/dev/null
for args in "-l" "--topo vvv" "--trace"; do
  step "gputuner $args"
  unshare -m --propagation private sh -c \
    'mount --bind "$0"/bus/pci /sys/bus/pci && mount --bind "$0"/devices /sys/devices && exec "$1" $2' \
    "$demo/host" "$PWD/build/bin/gputuner" "$args" 2>/dev/null
done

# vidprobe: two decoder instances on the emulated GPU over a small generated H.264 stream; -r
# writes each instance's frames as RGB24 to test_<instance>.rgb.
ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc=size=320x240:rate=25 \
  -frames:v 50 -c:v libx264 -pix_fmt yuv420p -f h264 "$demo/demo.h264"
step "vidprobe --instance-num 2 --input demo.h264,demo.h264 --codec 0,0 -r"
(cd "$demo" && "$OLDPWD/build/bin/sim/vidprobe" --instance-num 2 --input demo.h264,demo.h264 \
  --codec 0,0 -r && ls -l test_0.rgb test_1.rgb)

# xferclock on two emulated GPUs.
step "xferclock --start 4kb --end 256kb --factor 4 (QUELVAN_SIM_GPUS=2)"
QUELVAN_SIM_GPUS=2 build/bin/sim/xferclock --start 4kb --end 256kb --factor 4 --repeats 200

# ostrel-toolbox-installer: install a small toolbox package into a throw-away location.
mkdir -p "$demo/pkg/bin" "$demo/dest"
cp build/bin/ostrel-toolbox-installer "$demo/pkg/"
printf '#!/bin/sh\necho zu-smi\n' > "$demo/pkg/bin/zu-smi" && chmod +x "$demo/pkg/bin/zu-smi"
echo "toolbox notes" > "$demo/pkg/README.txt"
step "ostrel-toolbox-installer --install-path $demo/dest"
"$demo/pkg/ostrel-toolbox-installer" --install-path "$demo/dest"
ls -l "$demo/dest" "$demo/dest/ostrel-4.3.0"

# matpulse: verified FP32 GEMM on two emulated GPUs.
step "matpulse --i -1 --m 512 --n 512 --k 1024 --l 5 --v (QUELVAN_SIM_GPUS=2)"
QUELVAN_SIM_GPUS=2 build/bin/sim/matpulse --i -1 --m 512 --n 512 --k 1024 --l 5 --v
