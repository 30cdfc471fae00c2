#!/usr/bin/env bash
# Installs what the build needs, builds, and runs Corvale on the demo configuration:
# the desktop window when a display is available, else the headless monitor.
# The demo keeps its data folder and registry under the build folder, away from any
# real configuration. End it with Ctrl+C, or from another shell with
#   build/src/corvale-msg TfrmCorvale 3022
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja >/dev/null
cmake --build "$BUILD_DIR" --target corvale corvale-msg

# Echo tests need the right to open an ICMP socket: give it to the demo program when
# this shell may (root, or sudo without a password); without it the program logs how.
# A new link of the program drops the capability, so it is given after every build.
PROGRAM="$BUILD_DIR/src/corvale"
SETCAP=$(command -v setcap || echo /sbin/setcap)
if [ "$(id -u)" -eq 0 ]; then
  "$SETCAP" cap_net_raw+ep "$PROGRAM" 2>/dev/null || true
elif command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
  sudo -n "$SETCAP" cap_net_raw+ep "$PROGRAM" 2>/dev/null || true
fi

DEMO="$PWD/$BUILD_DIR/demo"
export CORVALE_DATA_DIR="$DEMO/data"
export CORVALE_REGISTRY_DIR="$DEMO/registry"
mkdir -p "$CORVALE_DATA_DIR/Quillmoor/Corvale" "$CORVALE_REGISTRY_DIR"
# The demo configuration is copied in once; what the program saves later is kept.
for f in scripts/demo/*; do
  [ -e "$f" ] || continue
  target="$CORVALE_DATA_DIR/Quillmoor/Corvale/$(basename "$f")"
  [ -e "$target" ] || cp "$f" "$target"
done

# The demo's "Status page" host tests a web page on 127.0.0.1:8080: serve one there for
# the length of the demo, unless something listens on that port already.
if ! (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null; then
  python3 -m http.server 8080 --bind 127.0.0.1 --directory scripts/demo-www >/dev/null 2>&1 &
  WEB_PID=$!
  trap 'kill "$WEB_PID" 2>/dev/null || true' EXIT
  for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/8080) 2>/dev/null && break
    sleep 0.1
  done
fi

# The web interface is on in the demo (port 8091 unless the settings say otherwise), so
# that the page can be seen at once, also on a server without a display.
SETTINGS="$CORVALE_DATA_DIR/Quillmoor/Corvale/hosts.cvlp"
if ! grep -qi '^WebServerPort=' "$SETTINGS" 2>/dev/null; then
  printf 'WebServerPort=%s\r\n' "${DEMO_WEB_PORT:-8091}" >>"$SETTINGS"
  chmod 600 "$SETTINGS"
fi
WEB_PORT=$(grep -i -m 1 '^WebServerPort=' "$SETTINGS" | cut -d= -f2 | tr -d '\r ')

"$BUILD_DIR"/src/corvale --version
echo "Data folder: $CORVALE_DATA_DIR/Quillmoor/Corvale"
if [ -n "$WEB_PORT" ] && [ "$WEB_PORT" != "0" ]; then
  echo "Web interface: http://127.0.0.1:$WEB_PORT/ (status.json and /metrics beside it)"
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$BUILD_DIR"/src/corvale "$@"
else
  echo "No display: running the headless monitor (corvale service). Ctrl+C ends it."
  "$BUILD_DIR"/src/corvale service "$@"
fi
