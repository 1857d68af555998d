#!/usr/bin/env bash
# Installs everything the project needs from Debian's packages.
# Idempotent: when every package is already there it only checks and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config ninja-build wine64
  libgtest-dev libgmock-dev libbenchmark-dev
  libjpeg62-turbo-dev libjpeg-turbo-progs libpng-dev
  libgtk-3-dev libcairo2-dev libx11-dev libxext-dev libxrandr-dev libxinerama-dev
  xvfb xdotool x11-utils imagemagick fonts-dejavu-core strace
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 nasm dpkg-dev
  wine wine32:i386 xscreensaver xscreensaver-data openbox xsecurelock
  lintian
  clang libclang-rt-14-dev
)
# The shipped rovanta.scr is a 32-bit program; where the kernel cannot start
# 32-bit ELF programs, Wine's i386 loader runs under user-mode emulation.
I386_LOADER=/lib/ld-linux.so.2
QEMU_I386=/usr/bin/qemu-i386-static
BINFMT=/proc/sys/fs/binfmt_misc

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

need_update=0
# Windows' libjpeg is built from Debian's own source package, so deb-src must be on.
if [ -f /etc/apt/sources.list.d/debian.sources ] && ! grep -q '^Types:.*deb-src' /etc/apt/sources.list.d/debian.sources; then
  $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
  need_update=1
fi
if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list && ! grep -q '^deb-src ' /etc/apt/sources.list; then
  grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' | $SUDO tee -a /etc/apt/sources.list >/dev/null
  need_update=1
fi
# wine32 lives in the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ "$need_update" -eq 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Registers qemu-i386 for i386 ELF executables, but only where the kernel
# cannot start the 32-bit loader itself: a registered handler would make every
# 32-bit program emulated, on machines that run them natively too. Flag F
# opens the interpreter now, so it also works inside other mount namespaces.
ensure_i386_programs() {
  if "$I386_LOADER" --version >/dev/null 2>&1; then return 0; fi
  if [ ! -e "$I386_LOADER" ]; then
    echo "setup: $I386_LOADER is missing (libc6:i386, which wine32:i386 brings)" >&2
    return 1
  fi
  if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q "install ok installed"; then
    echo "setup: this kernel cannot run 32-bit programs; installing qemu-user-static"
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null
  fi
  if [ ! -e "$BINFMT/register" ]; then
    $SUDO mount -t binfmt_misc binfmt_misc "$BINFMT" || {
      echo "setup: cannot mount binfmt_misc on $BINFMT" >&2
      return 1
    }
  fi
  if [ -e "$BINFMT/qemu-i386" ]; then
    echo 1 | $SUDO tee "$BINFMT/qemu-i386" >/dev/null
  else
    local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    printf ':qemu-i386:M::%s:%s:%s:F\n' "$magic" "$mask" "$QEMU_I386" | $SUDO tee "$BINFMT/register" >/dev/null
  fi
  if ! "$I386_LOADER" --version >/dev/null 2>&1; then
    echo "setup: 32-bit programs still do not start with qemu-i386 registered ($(cat "$BINFMT/qemu-i386" 2>/dev/null | head -1))" >&2
    return 1
  fi
  echo "setup: 32-bit programs run under $QEMU_I386 (this kernel cannot run them itself)"
}
ensure_i386_programs

# Debian's libjpeg-turbo source, for the static Windows build of the library.
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
SRC_DIR="$ROOT/build/deps/src"
if ! ls -d "$SRC_DIR"/libjpeg-turbo-*/ >/dev/null 2>&1; then
  mkdir -p "$SRC_DIR"
  (cd "$SRC_DIR" && apt-get source -qq --download-only libjpeg-turbo >/dev/null 2>&1 || apt-get source -qq --download-only libjpeg-turbo)
  (cd "$SRC_DIR" && dpkg-source -x --no-check libjpeg-turbo_*.dsc >/dev/null)
fi
echo "setup: ready"
