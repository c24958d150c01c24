#!/bin/sh
# Makes the system directories that a driver installation writes disposable, then runs COMMAND.
#
#   unshare -m --propagation private testing/driverpkg/sandbox.sh [-o DIR]... COMMAND [ARG...]
#
# Must run in a private mount namespace. A fresh tmpfs covers /tmp (keeping a checkout or build
# tree that lives under the real /tmp); /etc, /usr (kernel headers,
# /usr/src, /lib/modules, /lib/firmware, /lib/systemd/system, /usr/share/quelvan) and /var
# (/var/lib/dkms, /var/log/quelvanostrel), /opt (install paths) and every DIR given with -o
# become overlays whose
# changes land in that tmpfs: everything stays readable, nothing written reaches the disk, and
# it all vanishes with the namespace.
set -eu
extra=
while [ $# -gt 0 ] && [ "$1" = -o ]; do
  extra="$extra $(realpath "$2")"
  shift 2
done

# Refuse to cover the real /tmp: the caller's mount namespace must differ from ours.
if [ "$(readlink /proc/self/ns/mnt)" = "$(readlink "/proc/$PPID/ns/mnt")" ]; then
  echo "sandbox.sh: run me under unshare -m --propagation private" >&2
  exit 1
fi

# The fresh /tmp is put together on /mnt and then moved over /tmp, so that what this run needs
# from the real /tmp (a checkout or build tree that lives there: this package, the -o
# directories) can be bound into it first.
here=$(cd "$(dirname "$0")" && pwd -P)
mount -t tmpfs -o mode=1777 quelvan-sandbox /mnt
for p in "$here" $extra; do
  case "$p" in
    /tmp/?*)
      top=${p#/tmp/}
      top=${top%%/*}
      [ -d "/mnt/$top" ] && continue
      mkdir "/mnt/$top"
      mount --bind "/tmp/$top" "/mnt/$top"
      ;;
  esac
done
mount --move /mnt /tmp
n=0
for dir in /etc /usr /var /opt $extra; do
  [ -d "$dir" ] || continue
  n=$((n + 1))
  mkdir -p "/tmp/.sandbox/$n/upper" "/tmp/.sandbox/$n/work"
  mount -t overlay overlay \
    -o "lowerdir=$dir,upperdir=/tmp/.sandbox/$n/upper,workdir=/tmp/.sandbox/$n/work" "$dir"
done

exec "$@"
