#!/bin/sh
# Aggregate decoding rate of vidprobe with 1 and 2 instances on a 1080p H.264 stream, against
# "ffmpeg -benchmark" decoding the same stream with as many threads to a null output.
# Goal: vidprobe reaches at least 0.9 of FFmpeg's rate (frames are not written, no -r).
# Usage: vidprobe_bench.sh VIDPROBE [WORKDIR] [ROUNDS]
set -eu
vidprobe=$(realpath "$1")
work=${2:-/tmp/vidprobe_bench}
rounds=${3:-3}
mkdir -p "$work"
cd "$work"
stream=testsrc_1080p.h264
frames=240
if [ ! -s "$stream" ]; then
  ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc=size=1920x1080:rate=30 \
    -frames:v $frames -c:v libx264 -preset veryfast -pix_fmt yuv420p -f h264 "$stream"
fi

# Best of several rounds: the machine is shared, the best round is the least disturbed one.
ffmpeg_fps() { # threads
  best=0
  for _ in $(seq "$rounds"); do
    rtime=$(ffmpeg -hide_banner -nostdin -benchmark -threads "$1" -i "$stream" -f null - 2>&1 |
      sed -n 's/.*rtime=\([0-9.]*\)s.*/\1/p')
    best=$(echo "$best $frames $rtime" | awk '{f = $2 / $3; print (f > $1) ? f : $1}')
  done
  echo "$best"
}
vidprobe_fps() { # instances
  inputs=$stream codecs=0
  i=1
  while [ "$i" -lt "$1" ]; do inputs=$inputs,$stream codecs=$codecs,0; i=$((i + 1)); done
  best=0
  for _ in $(seq "$rounds"); do
    fps=$("$vidprobe" --instance-num "$1" --input "$inputs" --codec "$codecs" |
      sed -n 's/.*Total fps: *\([0-9.]*\).*/\1/p')
    best=$(echo "$best $fps" | awk '{print ($2 > $1) ? $2 : $1}')
  done
  echo "$best"
}

status=0
for n in 1 2; do
  ff=$(ffmpeg_fps "$n")
  vp=$(vidprobe_fps "$n")
  ratio=$(echo "$vp $ff" | awk '{printf "%.2f", $1 / $2}')
  verdict=$(echo "$ratio" | awk '{print ($1 >= 0.9) ? "ok" : "BELOW 0.9"}')
  [ "$verdict" = ok ] || status=1
  printf 'instances/threads %d: vidprobe %8.1f fps  ffmpeg %8.1f fps  ratio %s  %s\n' \
    "$n" "$vp" "$ff" "$ratio" "$verdict"
done
exit $status
