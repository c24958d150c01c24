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
