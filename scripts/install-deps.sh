#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the benchmarks need.
# Idempotent: when everything is already there it prints one line and exits.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libqt6opengl6-dev
  libjpeg62-turbo-dev libssl-dev libsmbclient-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  mingw-w64-common
  # test peers and platform helpers
  iproute2 iputils-ping procps python3 python3-aiosmtpd samba smbclient openssl
  # Samba's client tools (net rpc: the service protocol, restart and shutdown of other
  # computers; nmblookup: NetBIOS status) and the IEEE list of MAC prefixes
  samba-common-bin ieee-data
  libcap2-bin
  fping
  # fuzz targets (scripts/run-fuzz.sh)
  clang
  xvfb xauth
  # the web interface: a headless browser for its test, a load generator and a reference
  # web server for its benchmark (both small)
  chromium wrk nginx
  # the Debian package (scripts/build-deb.sh) and its check
  debhelper dpkg-dev fakeroot lintian
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
