#!/bin/bash
# A one-node Slurm cluster (the real munged, slurmctld and slurmd) with our HealthCheckProgram
# over the demo fake host. Everything runs in private mount, network and host-name namespaces:
# the fake host is bound over /sys, the cluster's configuration over /etc/slurm, and only the
# namespace's own loopback exists, so nothing reaches or is seen from outside. All daemons are
# stopped and the temporary directory removed at the end.
#
# usage: slurm_test.sh GPUTUNER FAKEHOST_DEMO
# exit 0 passed, 1 failed, 77 skipped (reason printed)
set -u

gputuner=$(realpath "$1") demo=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
healthcheck="$here/../slurm/quelvan-healthcheck"

skip() { echo "SKIP: $*"; exit 77; }
if [ -z "${QUELVAN_SLURM_NS:-}" ]; then
    [ "$(id -u)" -eq 0 ] || skip "needs root to start slurmd and bind the fake host over /sys"
    for p in munged slurmctld slurmd scontrol srun sinfo setpci lspci unshare ip jq; do
        command -v "$p" >/dev/null || skip "$p not installed (scripts/setup.sh installs munge, slurmctld, slurmd, slurm-client, pciutils, jq)"
    done
    unshare --mount --net --uts --propagation private true 2>/dev/null || skip "unshare of mount and network namespaces not permitted here"
    exec unshare --mount --net --uts --propagation private env QUELVAN_SLURM_NS=1 "$0" "$@"
fi

work=$(mktemp -d /tmp/quelvan-slurm-XXXXXX)
failures=0

stop_all() {
    for pidfile in "$work/slurmd.pid" "$work/slurmctld.pid" "$work/munged.pid"; do
        [ -s "$pidfile" ] || continue
        pid=$(cat "$pidfile")
        kill "$pid" 2>/dev/null
        for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null
    done
    umount /sys/devices /sys/bus/pci /etc/slurm /etc/hosts /usr/local/sbin 2>/dev/null
    rm -rf "$work"
}
trap stop_all EXIT
trap "exit 1" TERM INT

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The node's state and reason, e.g. "IDLE+DRAIN|quelvan: ... [root@...]".
node_state() {
    local info
    info=$(scontrol show node -o qnode 2>/dev/null)
    echo "$(sed -n 's/.* State=\([^ ]*\).*/\1/p' <<<"$info")|$(sed -n 's/.* Reason=\(.*\)$/\1/p' <<<"$info")"
}

# Waits up to 40 s for the node state to match an extended regular expression.
wait_state() {
    local s
    for _ in $(seq 80); do
        s=$(node_state)
        if grep -Eq "$1" <<<"$s"; then echo "node state: $s"; return 0; fi
        sleep 0.5
    done
    fail "node state '$s' never matched '$1'"
    return 1
}

# Waits until slurmd has run the health check `n` more times.
wait_checks() {
    local target=$(($(wc -l <"$work/checks") + $1))
    for _ in $(seq 80); do
        [ "$(wc -l <"$work/checks")" -ge "$target" ] && return 0
        sleep 0.5
    done
    fail "the health check did not run $1 more times"
}

# Link status of the GPU at 0000:3e:00.0: 16GT/s (healthy) or 2.5GT/s (downgraded).
set_link() {
    local config
    config=$(find "$work/host/devices" -path '*/0000:3e:00.0/config')
    printf "\\x$1" | dd of="$config" bs=1 seek=$((0x50 + 0x12)) conv=notrunc status=none
}

ip link set lo up
# Slurm resolves with AI_ADDRCONFIG, which glibc answers only when a non-loopback IPv4 address
# exists: one on an unconnected, down veth pair of this namespace satisfies it and carries nothing.
ip link add qv0 type veth peer name qv1 && ip addr add 10.254.0.1/32 dev qv0 || exit 1
hostname qnode
printf '127.0.0.1 localhost qnode\n' >"$work/hosts" && mount --bind "$work/hosts" /etc/hosts || exit 1

# The fake host over /sys, gputuner where the health check and job steps look for it.
"$demo" "$work/host" >/dev/null || { echo "FAIL: cannot write the fake host"; exit 1; }
mount --bind "$work/host/bus/pci" /sys/bus/pci && mount --bind "$work/host/devices" /sys/devices || exit 1
mount -t tmpfs tmpfs /usr/local/sbin && cp "$gputuner" /usr/local/sbin/gputuner || exit 1
gputuner --disable-acs >/dev/null || exit 1
mkdir -p /etc/slurm && mount -t tmpfs tmpfs /etc/slurm || exit 1

# slurmd runs the wrapper, which counts runs and hands over to the real health check.
touch "$work/checks"
printf '#!/bin/sh\necho run >>%s/checks\nexec %s\n' "$work" "$healthcheck" >"$work/healthcheck"
chmod +x "$work/healthcheck"

mkdir -p "$work/munge" "$work/ctld" "$work/slurmd"
chmod 700 "$work/munge"
dd if=/dev/urandom of="$work/munge/munge.key" bs=1024 count=1 status=none
chmod 400 "$work/munge/munge.key"
cat >/etc/slurm/slurm.conf <<CONF
ClusterName=quelvantest
SlurmctldHost=qnode(127.0.0.1)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge/munge.socket
CredType=cred/munge
StateSaveLocation=$work/ctld
SlurmdSpoolDir=$work/slurmd
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/pgid
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
SelectType=select/linear
MpiDefault=none
ReturnToService=2
HealthCheckProgram=$work/healthcheck
HealthCheckInterval=2
HealthCheckNodeState=ANY
NodeName=qnode NodeAddr=127.0.0.1 CPUs=1 State=UNKNOWN
PartitionName=gpu Nodes=qnode Default=YES MaxTime=INFINITE State=UP
CONF

munged --force --key-file="$work/munge/munge.key" --socket="$work/munge/munge.socket" \
    --pid-file="$work/munged.pid" --log-file="$work/munged.log" --seed-file="$work/munge/seed" ||
    { echo "FAIL: munged did not start"; exit 1; }
slurmctld -i || { echo "FAIL: slurmctld did not start"; cat "$work/slurmctld.log"; exit 1; }
slurmd || { echo "FAIL: slurmd did not start"; cat "$work/slurmd.log"; exit 1; }

# 1. The demo host with ACS off, so its downgraded link is all that is wrong: drained with our reason.
wait_state '^[A-Z+]*DRAIN[A-Z+]*\|quelvan: .*0000:3e:00.0 link'

# 2. Link repaired: resumed.
set_link 04
wait_state '^IDLE\|'

# 3. A job step runs gputuner --json on the node; its output parses.
# The README's line for every node of the partition.
json=$(timeout 60 srun -p gpu -N "$(sinfo -h -p gpu -N -t idle,mixed -o %N | sort -u | wc -l)" --ntasks-per-node=1 \
    gputuner --json -l 2>"$work/srun.err")
if jq -e '.schema_version and .program == "gputuner"' <<<"$json" >/dev/null; then
    echo "srun gputuner --json: $(jq -c '{program, status, gpus: (.gpus | length)}' <<<"$json")"
else
    fail "srun gputuner --json gave no JSON document: $json $(cat "$work/srun.err")"
fi

# 4. An administrator's drain survives a failing and a passing check.
scontrol update nodename=qnode state=drain reason="maintenance"
set_link 01
wait_checks 2
wait_state '^[A-Z+]*DRAIN[A-Z+]*\|maintenance'
set_link 04
wait_checks 2
wait_state '^[A-Z+]*DRAIN[A-Z+]*\|maintenance'
scontrol update nodename=qnode state=resume
wait_state '^IDLE\|'

# The health check on its own, as slurmd starts it (bare environment), well inside 60 s.
start=$(date +%s)
env -i "$healthcheck"
elapsed=$(($(date +%s) - start))
echo "health check took ${elapsed}s"
[ "$elapsed" -lt 30 ] || fail "the health check took ${elapsed}s"

if [ "$failures" -ne 0 ]; then
    echo "--- slurmd.log"; tail -n 30 "$work/slurmd.log"
    echo "--- slurmctld.log"; tail -n 30 "$work/slurmctld.log"
    exit 1
fi
echo "PASS"
