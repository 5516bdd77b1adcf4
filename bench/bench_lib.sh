# Sourced by latency.sh and compare.sh: the latency layer's mount and unmount,
# and a stopwatch.

layer_pid=
layer_mountpoint=

# mount_layer LAYER BENEATH MOUNTPOINT DELAY_MS: mounts and waits (10 s at most)
# until the mount is there; fails otherwise.
mount_layer() {
  local layer=$1 beneath=$2 mountpoint=$3 delay_ms=$4
  # timeout(1) passes a TERM on to the layer and kills it 5 s later at most.
  timeout -k 5 6h "$layer" -f -o "delay_ms=$delay_ms" "$beneath" "$mountpoint" &
  layer_pid=$!
  layer_mountpoint=$mountpoint
  for _ in $(seq 100); do
    mountpoint -q "$mountpoint" && return 0
    kill -0 "$layer_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "the latency layer could not be mounted at $mountpoint" >&2
  return 1
}

# Safe to call twice, and when nothing was mounted.
unmount_layer() {
  if [ -n "$layer_mountpoint" ] && mountpoint -q "$layer_mountpoint"; then
    timeout 30 umount "$layer_mountpoint" || umount -l "$layer_mountpoint" || true
  fi
  if [ -n "$layer_pid" ]; then
    kill -TERM "$layer_pid" 2>/dev/null || true
    wait "$layer_pid" 2>/dev/null || true
  fi
  layer_pid=
  layer_mountpoint=
}

# seconds_since START: the seconds from $EPOCHREALTIME START until now, to 0.01.
seconds_since() {
  local now=$EPOCHREALTIME
  awk -v a="$1" -v b="$now" 'BEGIN { printf "%.2f", b - a }'
}
