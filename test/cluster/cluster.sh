#!/usr/bin/env bash
# A Slurm cluster of three nodes on one machine, for the cluster tests and for
# trying the batch script by hand:
#
#   test/cluster/cluster.sh up <root> <build dir>   # install into <root>/prefix, start the daemons
#   test/cluster/cluster.sh down <root>             # stop them by their pid files, unmount
#   test/cluster/cluster.sh slow <root> <node> <percent>  # the node's CPU time capped
#   test/cluster/cluster.sh fast <root> <node>            # and set free again
#   test/cluster/cluster.sh restore <root>          # the volume as `up` left it, and empty
#
# Debian's Slurm runs several slurmd on one machine, each named with -N and
# listening on a port of its own. Each slurmd starts in UTS and mount
# namespaces of its own, which its job steps inherit: there the host name is
# the node's name, <root>/scratch is the node's own disk (a tmpfs under
# <root>/nodes/<node>/disk, seen from outside), /tmp and /dev/shm are the
# node's own (Open MPI keeps per-node files in both), and <root>/shared is
# one directory bound on every node, a shared file system.
# <root>/volume is a GlusterFS volume, mounted with FUSE at that path inside
# every node (and only there) from a glusterd of the cluster's own.
# Everything else under <root> (the installed programs, job logs) is the same
# on every node. munged, slurmctld and the slurmd talk over loopback through
# a private munge socket and key; the host's /etc, users and network stay as
# they are. Needs root.
#
# A slow node is slow for real: its slurmd moves into a control group of its
# own with a CPU quota of <percent> of one CPU, and every job step it starts
# from then on inherits it (cgroup v1's cpu controller where the machine has
# one, else cgroup v2's).
set -euo pipefail
# shellcheck source=test/support/shell.sh
source "$(dirname "$0")/../support/shell.sh"

readonly nodes=(node01 node02 node03)
# Cores per node: the collector's node holds two tasks, the others one each,
# so that a default run has four processes, a worker beside the collector,
# and fits the small test plan's cap of four.
readonly node_cpus=(2 1 1)
readonly port_base="${QUENDA_CLUSTER_PORT:-16817}"
readonly disk_size=64m
# GlusterFS: one glusterd serves the volume's two bricks over loopback. The
# brick host must be an address of this machine that glusterd takes for its
# own, and not 127.0.0.1 or localhost, which it refuses in a brick's name;
# the bricks' own processes find glusterd at the default port.
readonly brick_host=127.0.0.2
readonly volume=quenda

usage() {
  echo "usage: $0 up <root> <build dir> | down <root> | slow <root> <node> <percent>" \
    "| fast <root> <node> | gluster <root> <gluster arguments...> | restore <root>" >&2
  exit 2
}

none_alive() { ! kill -0 "$@" 2>/dev/null; }
no_jobs() { [ -z "$(timeout 10 squeue -h -o %i 2>/dev/null)" ]; }
every_node_idle() { [ "$(sinfo -h -N -t idle -o %N 2>/dev/null | sort -u | wc -l)" -eq "${#nodes[@]}" ]; }

# Stops the daemons whose pid files are given, all at once: TERM, up to ten
# seconds' wait, then KILL.
stop_by_pid_files() {
  local pid_file pids=()
  for pid_file in "$@"; do
    [ -s "$pid_file" ] && pids+=("$(cat "$pid_file")")
    rm -f "$pid_file"
  done
  ((${#pids[@]})) || return 0
  kill "${pids[@]}" 2>/dev/null || true
  retry 100 0.1 none_alive "${pids[@]}" || kill -9 "${pids[@]}" 2>/dev/null || true
}

# "v1 <mount>" or "v2 <mount>": the hierarchy that has the cpu controller.
cpu_hierarchy() {
  local mount
  mount="$(findmnt -rn -t cgroup -o TARGET,OPTIONS | awk '$2 ~ /(^|,)cpu(,|$)/ { print $1; exit }')"
  if [ -n "$mount" ]; then
    echo "v1 $mount"
  elif [ "$(stat -fc %T /sys/fs/cgroup)" = cgroup2fs ]; then
    echo "v2 /sys/fs/cgroup"
  else
    return 1
  fi
}

# A node's control group; its name carries the cluster's root, so that two
# clusters on one machine keep theirs apart.
node_cgroup() {
  local root="$1" node="$2" hierarchy="$3"
  echo "$hierarchy/quenda${root//\//-}-$node"
}

slow() {
  local root="$1" node="$2" percent="$3" version hierarchy group pid
  [[ "$percent" =~ ^[1-9][0-9]*$ ]] || usage
  read -r version hierarchy < <(cpu_hierarchy) || {
    echo "$0: this machine has no cgroup cpu controller" >&2
    exit 1
  }
  pid="$(cat "$root/nodes/$node/slurmd.pid")"
  group="$(node_cgroup "$root" "$node" "$hierarchy")"
  if [ ! -d "$group" ]; then
    # Where slurmd was, for `fast` to put it back.
    if [ "$version" = v1 ]; then
      awk -F: -v h="$hierarchy" '$2 ~ /(^|,)cpu(,|$)/ { print h $3 }' "/proc/$pid/cgroup"
    else
      awk -F: -v h="$hierarchy" '$1 == 0 { print h $3 }' "/proc/$pid/cgroup"
    fi >"$root/nodes/$node/cgroup-before"
    mkdir "$group"
  fi
  if [ "$version" = v1 ]; then
    echo 100000 >"$group/cpu.cfs_period_us"
    echo $((percent * 1000)) >"$group/cpu.cfs_quota_us"
  else
    grep -qw cpu "$hierarchy/cgroup.subtree_control" ||
      echo +cpu >"$hierarchy/cgroup.subtree_control"
    echo "$((percent * 1000)) 100000" >"$group/cpu.max"
  fi
  echo "$pid" >"$group/cgroup.procs"
}

# Every process of the node's control group back where slurmd was, and the
# group removed.
fast() {
  local root="$1" node="$2" version hierarchy group before pid
  read -r version hierarchy < <(cpu_hierarchy) || return 0
  group="$(node_cgroup "$root" "$node" "$hierarchy")"
  [ -d "$group" ] || return 0
  before="$(cat "$root/nodes/$node/cgroup-before" 2>/dev/null || echo "$hierarchy")"
  while read -r pid; do
    echo "$pid" >"$before/cgroup.procs" 2>/dev/null || true # it may have ended
  done <"$group/cgroup.procs"
  rmdir "$group"
  rm -f "$root/nodes/$node/cgroup-before"
}

# The gluster command line, speaking to the cluster's own glusterd.
gluster_cli() {
  local root="$1"
  shift
  timeout 60 gluster --mode=script --glusterd-sock="$root/gluster/run/glusterd.socket" \
    --log-file="$root/gluster/log/cli.log" "$@"
}

# A process in the node's namespaces, those of its slurmd.
in_node() {
  local root="$1" node="$2"
  shift 2
  nsenter --target "$(cat "$root/nodes/$node/slurmd.pid")" --uts --mount -- "$@"
}

# glusterd without systemd, everything it keeps under <root>/gluster, and the
# volume: two bricks, distributed (each file lives on one of them), so that a
# brick stopped takes its files with it. network.ping-timeout is short so
# that a dead or frozen server is given up on within seconds rather than
# 42; stat-prefetch is off so that a file's size seen from one node is the
# size another node has written.
gluster_up() {
  local root="$1" dir="$1/gluster" brick
  mkdir -p "$dir"/{lib,run,log,bricks}
  cat >"$dir/glusterd.vol" <<VOL
volume management
    type mgmt/glusterd
    option working-directory $dir/lib
    option run-directory $dir/run
    option logging-directory $dir/log
    option glusterd-sockfile $dir/run/glusterd.socket
    option transport-type socket
    option transport.socket.bind-address $brick_host
    option transport.socket.listen-port 24007
    option ping-timeout 0
    option event-threads 1
end-volume
VOL
  glusterd -f "$dir/glusterd.vol" -p "$dir/glusterd.pid" -l "$dir/log/glusterd.log"
  retry 60 0.5 gluster_cli "$root" volume list >/dev/null 2>&1 || true
  # A folder that was a brick keeps extended attributes that make glusterd
  # refuse it: bricks are made anew every time.
  for brick in 1 2; do
    rm -rf "$dir/bricks/$brick"
    mkdir "$dir/bricks/$brick"
  done
  # `force`: the bricks lie on the root file system.
  gluster_cli "$root" volume create "$volume" "$brick_host:$dir/bricks/1" \
    "$brick_host:$dir/bricks/2" force >/dev/null
  # Then quotas, which a test sets on a folder of the volume: counted at once
  # (no soft or hard timeout), and not shown as the free space of the folder,
  # as many sites keep them.
  local step
  for step in "set $volume network.ping-timeout 5" "set $volume performance.stat-prefetch off" \
    "start $volume" "quota $volume enable" "set $volume features.quota-deem-statfs off" \
    "quota $volume hard-timeout 0" "quota $volume soft-timeout 0"; do
    # shellcheck disable=SC2086 # the step's words
    gluster_cli "$root" volume $step >/dev/null
  done
}

# The volume mounted inside the node at <root>/volume. The mount is made in
# the node's namespace alone: one made outside would be copied into every
# namespace made after it and keep its client alive there. No kernel caching
# of attributes or names: a file another node made or removed is seen at
# once.
mount_volume() {
  local root="$1" node="$2"
  in_node "$root" "$node" glusterfs --volfile-server="$brick_host" --volfile-id="$volume" \
    --attribute-timeout=0 --entry-timeout=0 --negative-timeout=0 \
    --pid-file="$root/nodes/$node/glusterfs.pid" \
    --log-file="$root/gluster/log/client-$node.log" "$root/volume"
  retry 60 0.5 in_node "$root" "$node" mountpoint -q "$root/volume" ||
    { echo "$0: the volume did not mount on $node" >&2 && return 1; }
}

# No process works in the volume: mounted inside the nodes only, it is a
# node's process that has its folder there.
volume_unused() { [ -z "$(find /proc/[0-9]*/cwd -maxdepth 0 -lname "$1/volume*" 2>/dev/null)" ]; }
# A folder made and removed from the node: DHT makes a folder on every brick,
# and removes it only while it reaches every one.
volume_whole() { in_node "$1" "$2" sh -c "mkdir -p '$1/volume/.restore-$2' && rmdir '$1/volume/.restore-$2'"; }

# After a run that broke the volume: once the job and its processes are gone,
# every brick started again, and every node's client made anew, not left
# with what it kept of the broken volume (the old brick's connection, which
# it takes seconds to find again, folders it saw without that brick, the
# killed ranks' open files); then what the run left removed.
restore() {
  local root="$1" node
  export SLURM_CONF="$root/etc/slurm.conf"
  { retry 300 0.2 no_jobs && retry 300 0.2 volume_unused "$root"; } ||
    { echo "$0: the job or its processes are still there" >&2 && return 1; }
  gluster_cli "$root" volume start "$volume" force >/dev/null
  for node in "${nodes[@]}"; do
    in_node "$root" "$node" umount -l "$root/volume" 2>/dev/null || true
    stop_by_pid_files "$root/nodes/$node/glusterfs.pid"
    mount_volume "$root" "$node"
    retry 60 0.5 volume_whole "$root" "$node" 2>/dev/null ||
      { echo "$0: the volume is not whole on $node" >&2 && return 1; }
  done
  in_node "$root" node01 find "$root/volume" -mindepth 1 -delete
}

# The clients first (unmounted inside their nodes while the nodes' slurmd
# still hold the namespaces), then every server process by its pid file.
gluster_down() {
  local root="$1" node
  for node in "${nodes[@]}"; do
    if [ -s "$root/nodes/$node/glusterfs.pid" ] && [ -s "$root/nodes/$node/slurmd.pid" ]; then
      in_node "$root" "$node" umount -l "$root/volume" 2>/dev/null || true
    fi
  done
  stop_by_pid_files "$root"/nodes/*/glusterfs.pid
  [ -d "$root/gluster/run" ] || return 0
  local servers
  mapfile -t servers < <(find "$root/gluster/run" -name '*.pid')
  stop_by_pid_files "${servers[@]}"
  stop_by_pid_files "$root/gluster/glusterd.pid"
}

down() {
  local root="$1" node
  [ -d "$root" ] || return 0
  export SLURM_CONF="$root/etc/slurm.conf"
  # Job steps outlive a stopped slurmd; end them while Slurm still can.
  if [ -s "$root/ctld/slurmctld.pid" ] && ! no_jobs; then
    timeout 10 scancel --full --signal=KILL --user=root 2>/dev/null || true
    retry 50 0.2 no_jobs || true
  fi
  gluster_down "$root"
  stop_by_pid_files "$root"/nodes/*/slurmd.pid
  stop_by_pid_files "$root/ctld/slurmctld.pid"
  stop_by_pid_files "$root/munge/munged.pid"
  for node in "${nodes[@]}"; do
    fast "$root" "$node" || true
    if mountpoint -q "$root/nodes/$node/disk"; then
      umount "$root/nodes/$node/disk" || umount -l "$root/nodes/$node/disk"
    fi
  done
}

write_config() {
  local root="$1" index
  cat >"$root/etc/slurm.conf" <<CONF
ClusterName=quenda
SlurmctldHost=$(hostname -s)(127.0.0.1)
SlurmctldPort=$port_base
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$root/munge/munge.socket.2
CredType=cred/munge
StateSaveLocation=$root/ctld/state
SlurmctldPidFile=$root/ctld/slurmctld.pid
SlurmctldLogFile=$root/ctld/slurmctld.log
SlurmdSpoolDir=$root/nodes/%n/spool
SlurmdPidFile=$root/nodes/%n/slurmd.pid
SlurmdLogFile=$root/nodes/%n/slurmd.log
SlurmdParameters=config_overrides
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
SchedulerType=sched/builtin
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
KillWait=5
MinJobAge=600
TmpFS=/tmp
CONF
  for index in "${!nodes[@]}"; do
    echo "NodeName=${nodes[$index]} NodeHostname=localhost NodeAddr=127.0.0.1" \
      "Port=$((port_base + 1 + index)) CPUs=${node_cpus[$index]} Sockets=1" \
      "CoresPerSocket=${node_cpus[$index]} ThreadsPerCore=1 RealMemory=1000 State=UNKNOWN" \
      >>"$root/etc/slurm.conf"
  done
  echo "PartitionName=quenda Nodes=ALL Default=YES MaxTime=INFINITE State=UP" \
    >>"$root/etc/slurm.conf"
}

# Open MPI's remote launch in place of ssh: runs the command in the node's
# namespaces, those of its slurmd.
write_agent() {
  local root="$1"
  cat >"$root/bin/node-agent" <<AGENT
#!/usr/bin/env bash
# Usage as ssh's: node-agent <node> <command...>
set -euo pipefail
node="\$1"
shift
exec nsenter --target "\$(cat "$root/nodes/\$node/slurmd.pid")" --uts --mount -- /bin/sh -c "\$*"
AGENT
  chmod 755 "$root/bin/node-agent"
}

start_node() {
  local root="$1" node="$2"
  local dir="$root/nodes/$node"
  # shellcheck disable=SC2016 # expanded by the inner shell
  unshare --uts --mount --propagation private /bin/sh -c '
    set -e
    hostname "$1"
    mount --bind "$2/disk" "$3/scratch"
    mount --bind "$3/shared-disk" "$3/shared"
    mount --bind "$2/tmp" /tmp
    mount -t tmpfs -o mode=1777,size=256m "quenda-shm-$1" /dev/shm
    exec slurmd -f "$3/etc/slurm.conf" -N "$1"' node "$node" "$dir" "$root"
}

# Leaves `up` when this machine cannot hold the cluster: a failure in CI
# (CI set), elsewhere the reason in <root>/unavailable for the tests to skip
# with, and status 77.
unavailable() {
  local root="$1" reason="$2"
  echo "$0: $reason" >&2
  if [ -n "${CI:-}" ] && [ "${CI}" != false ]; then exit 1; fi
  mkdir -p "$root"
  echo "$reason" >"$root/unavailable"
  exit 77
}

up() {
  local root="$1" build="$2" index node command
  rm -f "$root/unavailable"
  [ "$(id -u)" -eq 0 ] || unavailable "$root" "the simulated cluster needs root"
  for command in munged slurmctld slurmd sbatch srun scontrol unshare nsenter glusterd glusterfs; do
    command -v "$command" >/dev/null ||
      unavailable "$root" "no $command here (packages slurm-wlm, munge, glusterfs-server," \
        "glusterfs-client: scripts/setup.sh)"
  done
  [ -c /dev/fuse ] || unavailable "$root" "no /dev/fuse here, which the GlusterFS client needs"
  unshare --uts --mount true 2>/dev/null ||
    unavailable "$root" "this machine allows no private UTS and mount namespaces"
  case "$root" in
    /tmp | /tmp/*)
      echo "$0: $root lies under /tmp, which every node replaces with its own" >&2
      exit 1
      ;;
  esac
  # <root> is removed and made anew: only an earlier cluster's, or nothing.
  if [ -e "$root" ] && [ ! -e "$root/etc/slurm.conf" ] && [ -n "$(ls -A "$root")" ]; then
    echo "$0: $root is not a simulated cluster's folder; not replacing it" >&2
    exit 1
  fi
  down "$root"
  rm -rf "$root"
  # A cluster that fails to come up is taken down again.
  trap 'down "$root"' ERR
  mkdir -p "$root"/{etc,bin,jobs,munge,ctld/state,scratch,shared,shared-disk,volume}
  chmod 755 "$root"
  chmod 1777 "$root/jobs" "$root/shared-disk"
  chmod 700 "$root/munge"
  for index in "${!nodes[@]}"; do
    node="${nodes[$index]}"
    mkdir -p "$root/nodes/$node"/{disk,tmp,spool}
    chmod 1777 "$root/nodes/$node/tmp"
    mount -t tmpfs -o "size=$disk_size,mode=1777" "quenda-$node" "$root/nodes/$node/disk"
  done

  # The programs, from a prefix outside the build tree as on a real cluster;
  # the small-plan benchmark goes along for the tests.
  cmake --install "$build" --prefix "$root/prefix" >"$root/install.log"
  cmake --install "$build" --prefix "$root/prefix" --component quenda-tests >>"$root/install.log"

  write_config "$root"
  write_agent "$root"

  dd if=/dev/urandom of="$root/munge/munge.key" bs=1024 count=1 status=none
  chmod 400 "$root/munge/munge.key"
  munged --force --socket="$root/munge/munge.socket.2" --key-file="$root/munge/munge.key" \
    --pid-file="$root/munge/munged.pid" --log-file="$root/munge/munged.log" \
    --seed-file="$root/munge/munged.seed"

  slurmctld -f "$root/etc/slurm.conf"
  for node in "${nodes[@]}"; do
    start_node "$root" "$node"
  done

  # Up when every node is idle.
  export SLURM_CONF="$root/etc/slurm.conf"
  if ! retry 60 0.5 every_node_idle; then
    echo "$0: the nodes did not come up:" >&2
    sinfo -N >&2 || true
    tail -n 20 "$root/ctld/slurmctld.log" "$root"/nodes/*/slurmd.log >&2 || true
    down "$root"
    exit 1
  fi
  gluster_up "$root"
  for node in "${nodes[@]}"; do
    mount_volume "$root" "$node"
  done
  # World-writable and sticky like a scratch file system.
  in_node "$root" node01 chmod 1777 "$root/volume"
}

case "${1:-}" in
  up) [ $# -eq 3 ] || usage; up "$2" "$(cd "$3" && pwd)" ;;
  down) [ $# -eq 2 ] || usage; down "$2" ;;
  slow) [ $# -eq 4 ] || usage; slow "$2" "$3" "$4" ;;
  fast) [ $# -eq 3 ] || usage; fast "$2" "$3" ;;
  gluster) [ $# -ge 3 ] || usage; gluster_cli "${@:2}" ;;
  restore) [ $# -eq 2 ] || usage; restore "$2" ;;
  *) usage ;;
esac
