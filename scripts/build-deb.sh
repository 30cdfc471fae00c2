#!/usr/bin/env bash
# Builds the Debian package corvale_<version>_<arch>.deb with dpkg-buildpackage and
# leaves it in the folder DEB_OUT (default dist/), then checks it with lintian (errors
# fail the script; LINTIAN=0 skips the check).
#
# CORVALE_DEB_BUILD_DIR=<folder> makes the package from an already configured and built
# tree of this source instead of building it again (CI does so after its test build).
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD
DEB_OUT=${DEB_OUT:-dist}
mkdir -p "$DEB_OUT"
DEB_OUT=$(cd "$DEB_OUT" && pwd)
if [ -n "${CORVALE_DEB_BUILD_DIR:-}" ]; then
  CORVALE_DEB_BUILD_DIR=$(cd "$CORVALE_DEB_BUILD_DIR" && pwd)
  export CORVALE_DEB_BUILD_DIR
fi

# dpkg-buildpackage writes its results beside the source folder and its work inside
# it: both happen in a copy, so the checkout stays clean.
WORK=$(mktemp -d "${TMPDIR:-/tmp}/corvale-deb.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
mkdir "$WORK/corvale"
tar -C "$SRC" --exclude=./.git --exclude='./build*' --exclude=./dist --exclude=./.cache \
    --exclude=./debian/corvale --exclude=./debian/.debhelper --exclude=./obj-\* -cf - . |
  tar -C "$WORK/corvale" -xf -

export DEB_BUILD_OPTIONS="${DEB_BUILD_OPTIONS:-parallel=$(nproc)}"
(cd "$WORK/corvale" && dpkg-buildpackage -us -uc -b)

shopt -s nullglob
debs=("$WORK"/corvale_*.deb)
if [ ${#debs[@]} -ne 1 ]; then
  echo "build-deb: expected one corvale_*.deb, found ${#debs[@]}" >&2
  exit 1
fi
cp "${debs[0]}" "$DEB_OUT/"
DEB="$DEB_OUT/$(basename "${debs[0]}")"
echo "build-deb: $DEB"

if [ "${LINTIAN:-1}" != 0 ]; then
  if command -v lintian >/dev/null; then
    lintian --fail-on error --info "$DEB"
    echo "build-deb: lintian found no errors"
  else
    echo "build-deb: lintian is not installed; the package was not checked" >&2
  fi
fi
