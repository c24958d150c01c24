#!/bin/sh
# Makes the test streams with the ffmpeg program: small testsrc clips in every container the
# decoder library reads, FFmpeg's own RGB24 decode of each, and damaged copies.
# Usage: make_streams.sh DIR
set -eu
dir=$1
mkdir -p "$dir"
cd "$dir"
ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
src="testsrc=size=160x120:rate=25"

ff -f lavfi -i "$src" -frames:v 30 -c:v libx264 -pix_fmt yuv420p -f h264 h264.h264
ff -f lavfi -i "$src" -frames:v 30 -c:v libx265 -x265-params log-level=error -pix_fmt yuv420p \
   -f hevc hevc.hevc
ff -f lavfi -i "$src" -frames:v 20 -c:v libvpx-vp9 -pix_fmt yuv420p -f ivf vp9.ivf
# Lossless noise: about 1 MiB in 12 frames, so it arrives in several packets.
ff -f lavfi -i "testsrc=size=320x240:rate=25,noise=alls=60:allf=t" -frames:v 12 -c:v libx264 \
   -qp 0 -pix_fmt yuv420p -f h264 big.h264

for s in h264.h264 hevc.hevc vp9.ivf; do
  ff -i "$s" -fps_mode passthrough -f rawvideo -pix_fmt rgb24 "$s.rgb"
done

head -c 3000 h264.h264 > truncated.h264
head -c 3000 vp9.ivf > truncated.ivf
cp h264.h264 corrupt.h264
yes | head -c 1500 | dd of=corrupt.h264 bs=1 seek=1200 conv=notrunc status=none
head -c 20000 /dev/zero | tr '\0' '\125' > garbage.bin
