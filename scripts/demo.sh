#!/usr/bin/env bash
# `make demo`: the program in one private network namespace and a scripted
# colleague in another, joined by a veth pair (198.18.10.0/24), so someone with
# one machine sees the program find a peer, chat, receive a file and a card.
# Needs root (it makes the namespaces); removes everything when it ends.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "make demo needs root (it creates network namespaces)." >&2; exit 1; }

app_ns=qnchat-demo-app
peer_ns=qnchat-demo-peer
work=$(mktemp -d /tmp/qnchat-demo-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for ns in "$app_ns" "$peer_ns"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
    ip netns delete "$ns" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
cleanup_stale() { ip netns delete "$1" 2>/dev/null || true; }
cleanup_stale "$app_ns"; cleanup_stale "$peer_ns"

ip netns add "$app_ns"
ip netns add "$peer_ns"
ip link add qnd-app type veth peer name qnd-peer
ip link set qnd-app netns "$app_ns"
ip link set qnd-peer netns "$peer_ns"
ip -n "$app_ns" addr add 198.18.10.1/24 dev qnd-app
ip -n "$peer_ns" addr add 198.18.10.2/24 dev qnd-peer
for ns in "$app_ns" "$peer_ns"; do
  ip -n "$ns" link set lo up
done
ip -n "$app_ns" link set qnd-app up
ip -n "$peer_ns" link set qnd-peer up

# The X display is reached through its socket file, which works from any
# network namespace; without a display the demo brings its own Xvfb.
if [ -z "${DISPLAY:-}" ]; then
  Xvfb :57 -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=:57
  sleep 1
  echo "No DISPLAY: the program runs on Xvfb $DISPLAY (connect a viewer to see it)."
fi

mkdir -p "$work/app" "$work/peer"
printf '这是演示文件。\nQNChat 在局域网里传文件，不经过服务器。\n' > "$work/演示文件.txt"

echo "Starting the program (its data lives in $work/app while the demo runs)."
ip netns exec "$app_ns" env HOME="$work/app" XDG_CONFIG_HOME="$work/app/.config" \
  XDG_DATA_HOME="$work/app/.local/share" XDG_RUNTIME_DIR="$work/app" \
  "$build/main/QNChat" &
pids+=($!)
app_pid=$!
sleep 2
echo "Starting the scripted colleague 小王(演示)."
ip netns exec "$peer_ns" /usr/bin/python3 "$here/demo_peer.py" "$build/tools/qnchat-peer" \
  "$work/peer" "$work/演示文件.txt" &
pids+=($!)
echo "Close the program's window (or press Ctrl+C) to end the demo."
wait "$app_pid" || true
