#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demos need. Safe to run again:
# packages already present are not fetched twice.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev
  pciutils util-linux procps kmod
  time  # bench/matpulse_verify_bench.sh
  libopenblas-dev
  libavcodec-dev libavformat-dev libswscale-dev libavutil-dev ffmpeg zlib1g-dev
  dkms linux-headers-amd64 openssl libelf-dev bc
  nlohmann-json3-dev
  # test-only: fuzzing, package checks, schema validation, the fleet peers
  clang libclang-rt-14-dev lintian devscripts python3-jsonschema jq
  prometheus prometheus-node-exporter slurmd slurmctld slurm-client munge
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
fi
echo "setup: all packages present"
