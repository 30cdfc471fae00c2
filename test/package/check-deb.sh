#!/usr/bin/env bash
# The Debian package as an administrator meets it: built from the test build's tree,
# its file list, the unpacked programs serving the web page with the sample settings,
# and, as root where no corvale package is installed, apt-get install and purge.
#
# Runs only with CORVALE_PACKAGE_TEST=1 (.ci/run sets it), as the package build takes
# minutes; CORVALE_DEB=<file> checks that package instead of building one. Exit 77: skipped.
set -euo pipefail
SRC=$(cd "$(dirname "$0")/../.." && pwd)
if [ "${CORVALE_PACKAGE_TEST:-}" != 1 ]; then
  echo "skipped: set CORVALE_PACKAGE_TEST=1 to build and check the Debian package"
  exit 77
fi
for tool in dpkg-deb dpkg-buildpackage python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "skipped: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/corvale-pkgtest.XXXXXX")
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# --- the package
DEB=${CORVALE_DEB:-}
if [ -z "$DEB" ]; then
  DEB_OUT="$WORK/out" CORVALE_DEB_BUILD_DIR="${CORVALE_BUILD_DIR:?}" "$SRC/scripts/build-deb.sh" >"$WORK/build.log" 2>&1 ||
    { tail -50 "$WORK/build.log"; fail "scripts/build-deb.sh failed"; }
  grep -E "^(E|W): " "$WORK/build.log" || true
  DEB=$(ls "$WORK"/out/corvale_*.deb)
fi
echo "package: $DEB"
[[ $(basename "$DEB") =~ ^corvale_[0-9][^_]*_amd64\.deb$ ]] || fail "unexpected package name $(basename "$DEB")"
[ "$(dpkg-deb -f "$DEB" Package)" = corvale ] || fail "package name"
dpkg-deb -f "$DEB" Depends | grep -q adduser || fail "the package must depend on adduser"

# --- its files
dpkg-deb -c "$DEB" | awk '{print $6 ($7 == "->" ? " -> " $8 : "")}' >"$WORK/files"
for f in ./usr/lib/corvale/corvale ./usr/lib/corvale/corvale-service ./usr/lib/corvale/corvale-msg \
         "./usr/bin/corvale -> ../lib/corvale/corvale" "./usr/bin/corvale-service -> ../lib/corvale/corvale-service" \
         "./usr/bin/corvale-msg -> ../lib/corvale/corvale-msg" ./lib/systemd/system/corvale.service \
         ./usr/lib/corvale/webserver/hostinfo.html ./usr/lib/corvale/Error.wav ./usr/lib/corvale/Okay.wav \
         ./usr/share/corvale/hosts.cvlp ./usr/share/man/man1/corvale.1.gz ./usr/share/man/man1/corvale-msg.1.gz \
         ./usr/share/man/man8/corvale-service.8.gz ./usr/share/doc/corvale/copyright; do
  grep -qxF "$f" "$WORK/files" || { cat "$WORK/files"; fail "missing from the package: $f"; }
done
grep -qE '^\./usr/share/doc/corvale/README\.md(\.gz)?$' "$WORK/files" || fail "missing README"
if grep -E '^\./(usr/local|home|root|tmp|work)/' "$WORK/files"; then fail "files outside the system folders"; fi

dpkg-deb -x "$DEB" "$WORK/root"
dpkg-deb -e "$DEB" "$WORK/control"
UNIT="$WORK/root/lib/systemd/system/corvale.service"
for line in "ExecStart=/usr/lib/corvale/corvale-service" "User=corvale" "Type=simple" "Restart=no" \
            "RuntimeDirectory=corvale" "StateDirectory=corvale" "AmbientCapabilities=CAP_NET_RAW"; do
  grep -qxF "$line" "$UNIT" || fail "the unit lacks $line"
done
grep -q "^WebServerPort=8080" "$WORK/root/usr/share/corvale/hosts.cvlp" || fail "the sample settings lack port 8080"
grep -q "adduser --system" "$WORK/control/postinst" || fail "postinst does not make the corvale user"
for program in corvale corvale-service corvale-msg; do
  "$WORK/root/usr/lib/corvale/$program" --help >/dev/null 2>&1 ||
    "$WORK/root/usr/lib/corvale/$program" --version >/dev/null 2>&1 || fail "$program neither --help nor --version"
done

# --- the unpacked service with the sample settings on a free port
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
export CORVALE_DATA_DIR="$WORK/data" CORVALE_REGISTRY_DIR="$WORK/registry" XDG_RUNTIME_DIR="$WORK/run"
export CORVALE_UNIT_DIR="$WORK/units" XDG_CONFIG_HOME="$WORK/config" JOURNAL_STREAM=
mkdir -p "$CORVALE_DATA_DIR/Quillmoor/Corvale" "$CORVALE_REGISTRY_DIR" "$XDG_RUNTIME_DIR"
chmod 0700 "$XDG_RUNTIME_DIR"
sed "s/^WebServerPort=8080/WebServerPort=$PORT/" "$WORK/root/usr/share/corvale/hosts.cvlp" \
  >"$CORVALE_DATA_DIR/Quillmoor/Corvale/hosts.cvlp"
"$WORK/root/usr/lib/corvale/corvale-service" 2>"$WORK/service.err" &
SUPERVISOR=$!
PIDS+=("$SUPERVISOR")
page=""
for _ in $(seq 1 300); do
  page=$(python3 - "$PORT" <<'PY' 2>/dev/null || true
import sys, urllib.request
print(urllib.request.urlopen("http://127.0.0.1:%s/" % sys.argv[1], timeout=2).status)
PY
)
  [ "$page" = 200 ] && break
  kill -0 "$SUPERVISOR" 2>/dev/null || break
  sleep 0.1
done
[ "$page" = 200 ] || { cat "$WORK/service.err"; fail "the unpacked service's web page did not answer on port $PORT"; }
echo "the unpacked service answers on port $PORT"
"$WORK/root/usr/lib/corvale/corvale-msg" TfrmCorvale 3023 | grep -qx 1 || fail "the monitor's window does not answer"
kill -TERM "$SUPERVISOR"
wait "$SUPERVISOR" || fail "the supervisor ended with $?"
grep -q "Stop received; Corvale being shut down" "$WORK/service.err" || fail "no stop entry"
grep -q "Corvale Shut Down" "$WORK/service.err" || { cat "$WORK/service.err"; fail "the monitor did not close in order"; }
unset CORVALE_DATA_DIR CORVALE_REGISTRY_DIR XDG_RUNTIME_DIR CORVALE_UNIT_DIR XDG_CONFIG_HOME

# --- installed and purged, where this machine may take packages
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
  echo "skipped the installation: it needs root and apt-get"
  exit 0
fi
if dpkg-query -W -f='${Status}' corvale 2>/dev/null | grep -q "installed"; then
  echo "skipped the installation: a corvale package is installed here already and is left alone"
  exit 0
fi
APT=(apt-get -y -q -o DPkg::Lock::Timeout=300 --no-install-recommends)
cp "$DEB" "$WORK/"
DEBIAN_FRONTEND=noninteractive "${APT[@]}" install "$WORK/$(basename "$DEB")" >"$WORK/apt.log" 2>&1 ||
  { cat "$WORK/apt.log"; fail "apt-get install failed"; }
getent passwd corvale >/dev/null || fail "no corvale user after the installation"
[ -f /lib/systemd/system/corvale.service ] || fail "no unit after the installation"
[ -f /var/lib/corvale/Quillmoor/Corvale/hosts.cvlp ] || fail "no settings in the data folder"
grep -qF '[System\CurrentControlSet\Services\Corvale]' /var/lib/corvale/registry/HKEY_LOCAL_MACHINE.reg ||
  fail "the service keys were not written"
[ "$(stat -c %U /var/lib/corvale/Quillmoor/Corvale/hosts.cvlp)" = corvale ] || fail "the data folder is not the service's"
if [ -d /run/systemd/system ]; then
  systemctl is-enabled corvale.service | grep -qx enabled || fail "the unit is not enabled"
fi
DEBIAN_FRONTEND=noninteractive "${APT[@]}" purge corvale >>"$WORK/apt.log" 2>&1 ||
  { cat "$WORK/apt.log"; fail "apt-get purge failed"; }
[ ! -e /lib/systemd/system/corvale.service ] || fail "the unit is left after the purge"
[ ! -e /var/lib/corvale ] || fail "the data folder is left after the purge"
echo "installed with apt-get, the corvale user and the unit were there, purged"
