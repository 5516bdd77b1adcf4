# Sourced by remote_paths.sh and compare.sh: a throwaway OpenSSH server on a
# free loopback port, sshfs and rclone mounts, and their cleanup. Everything
# started is kept by process id and mount point, so that remote_stop ends
# exactly that and nothing else. This file sets no trap: the sourcing script
# calls remote_stop from its own EXIT trap, and since every variable below is
# set here, that works under set -u also when nothing was started yet.

remote_port=
remote_key=       # the client's private key, with which root may log in
remote_state=     # the server's keys, configuration and log
remote_sshd_pid=
remote_pids=()    # rclone mounts
remote_mounts=()
remote_missing=()

# remote_find_missing: the packages a server, sshfs and rclone need that are
# not installed, into remote_missing. sshd lives in /usr/sbin, which is not on
# every user's PATH.
remote_find_missing() {
  local pair
  remote_missing=()
  for pair in sshd:openssh-server sshfs:sshfs rclone:rclone; do
    command -v "${pair%%:*}" >/dev/null || [ -x "/usr/sbin/${pair%%:*}" ] ||
      remote_missing+=("${pair#*:}")
  done
}

# remote_start_sshd STATE: sshd on a free loopback port, for this run only,
# with fresh keys, its configuration and log in STATE. It stays in the
# foreground (-D) in the background of this shell, so that its process id is
# known at once, and is waited for (5 s at most) until it writes its PidFile,
# which it does once it listens. (A trial connection would leave a child
# behind that outlives the listener.)
remote_start_sshd() {
  remote_state=$1
  remote_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  remote_key=$remote_state/keys/user
  mkdir -p "$remote_state/keys" /run/sshd
  ssh-keygen -q -t ed25519 -N '' -f "$remote_state/keys/host"
  ssh-keygen -q -t ed25519 -N '' -f "$remote_key"
  # The PidFile is ours, so that the machine's own sshd.pid is never touched.
  cat >"$remote_state/sshd_config" <<EOF
Port $remote_port
ListenAddress 127.0.0.1
HostKey $remote_state/keys/host
AuthorizedKeysFile $remote_key.pub
PasswordAuthentication no
PermitRootLogin prohibit-password
StrictModes no
Subsystem sftp internal-sftp
PidFile $remote_state/sshd.pid
EOF
  /usr/sbin/sshd -D -f "$remote_state/sshd_config" -E "$remote_state/sshd.log" </dev/null &
  remote_sshd_pid=$!
  for _ in $(seq 50); do
    [ -s "$remote_state/sshd.pid" ] && return 0
    kill -0 "$remote_sshd_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "sshd did not start on port $remote_port:" >&2
  tail -5 "$remote_state/sshd.log" >&2 || true
  return 1
}

# remote_mount_sshfs FOLDER MOUNT: FOLDER (made where missing) as the server
# serves it, mounted at MOUNT. sshfs returns once it is connected and mounted.
remote_mount_sshfs() {
  mkdir -p "$1" "$2"
  sshfs -p "$remote_port" \
    -o "IdentityFile=$remote_key,StrictHostKeyChecking=no,UserKnownHostsFile=/dev/null" \
    "root@127.0.0.1:$1" "$2"
  remote_mounts+=("$2")
}

# remote_mount_rclone FOLDER MOUNT CACHE_MODE: an rclone mount of a local
# folder, waited for (5 s at most); exits the script when it does not come.
# Its log goes beside the server's, so the server is started first.
remote_mount_rclone() {
  mkdir -p "$1" "$2"
  rclone mount "$1" "$2" --vfs-cache-mode "$3" --dir-cache-time 200ms \
    >"$remote_state/rclone-$3.log" 2>&1 &
  remote_pids+=($!)
  remote_mounts+=("$2")
  for _ in $(seq 50); do mountpoint -q "$2" && return; sleep 0.1; done
  echo "rclone did not mount $2" >&2
  exit 1
}

# remote_unmount MOUNT: unmounts one sshfs mount (sshfs then ends by itself).
remote_unmount() {
  local m kept=()
  fusermount3 -u "$1" 2>/dev/null || umount -l "$1" 2>/dev/null || true
  for m in "${remote_mounts[@]}"; do [ "$m" = "$1" ] || kept+=("$m"); done
  remote_mounts=("${kept[@]}")
}

# remote_stop: unmounts, then ends what was started, by its process id. Safe
# to call twice, and when nothing was started.
remote_stop() {
  local m p
  for m in "${remote_mounts[@]}"; do
    fusermount3 -u "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true
  done
  for p in "${remote_pids[@]}" $remote_sshd_pid; do
    kill "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
  done
  remote_mounts=()
  remote_pids=()
  remote_sshd_pid=
}
