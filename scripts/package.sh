#!/usr/bin/env bash
# Builds the Debian package of the Linux program and checks it with lintian.
# The last line of output is the package's path; install it with
#   apt install ./build/package/rovanta_1.2.0_amd64.deb
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

bash scripts/setup.sh
BUILD="${BUILD_DIR:-build/package}"
# A build of its own: optimised, with Debian's hardening flags, and without
# the tests, benchmarks and the Windows program, none of which go into the
# package.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
CFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DROVANTA_TESTS=OFF -DROVANTA_BENCH=OFF -DROVANTA_WINDOWS=OFF \
  "-DCMAKE_CXX_FLAGS=$CXXFLAGS" "-DCMAKE_C_FLAGS=$CFLAGS" "-DCMAKE_EXE_LINKER_FLAGS=$LDFLAGS" >/dev/null
cmake --build "$BUILD" -j "${JOBS:-$(nproc)}"
BUILD="$(cd "$BUILD" && pwd)"
OUT="$BUILD"
rm -f "$OUT"/rovanta_*.deb
cpack --config "$BUILD/CPackConfig.cmake" -B "$OUT" >/dev/null
DEB="$(ls "$OUT"/rovanta_*.deb)"

echo "package: lintian"
# Errors fail the build; warnings are shown for whoever reads along.
status=0
report="$(lintian --fail-on error --tag-display-limit 0 "$DEB" 2>&1)" || status=$?
printf '%s\n' "$report" | grep -v "root privileges" || true
if [ "$status" -ne 0 ]; then
  echo "package: lintian found errors in $DEB" >&2
  exit 1
fi
echo "$DEB"
