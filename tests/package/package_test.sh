#!/usr/bin/env bash
# package_test.sh CPACK_CONFIG: packs the build, then checks the package as
# Debian would see it. Prints what differs and ends with 1 on any fault.
set -uo pipefail
CONFIG="$1"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
fail=0
bad() { echo "FAIL: $*"; fail=1; }

if ! cpack --config "$CONFIG" -B "$WORK/out" >"$WORK/cpack.log" 2>&1; then
  cat "$WORK/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
DEB="$WORK/out/rovanta_1.2.0_amd64.deb"
[ -f "$DEB" ] || { ls "$WORK/out"; echo "FAIL: no rovanta_1.2.0_amd64.deb"; exit 1; }

# Exactly these files, with these modes; the hack is a link to the program.
expected="$WORK/expected"
cat >"$expected" <<'LIST'
-rwxr-xr-x ./usr/bin/rovanta
-rwxr-xr-x ./usr/bin/rovanta-render
lrwxrwxrwx ./usr/libexec/xscreensaver/rovanta -> ../../bin/rovanta
-rw-r--r-- ./usr/share/applications/rovanta-settings.desktop
-rw-r--r-- ./usr/share/applications/screensavers/rovanta.desktop
-rw-r--r-- ./usr/share/doc/rovanta/changelog.gz
-rw-r--r-- ./usr/share/doc/rovanta/copyright
-rw-r--r-- ./usr/share/man/man1/rovanta-render.1.gz
-rw-r--r-- ./usr/share/man/man6/rovanta.6.gz
-rw-r--r-- ./usr/share/xscreensaver/config/rovanta.xml
LIST
dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ { $2=$3=$4=$5=""; print }' | tr -s ' ' >"$WORK/actual"
diff -u "$expected" "$WORK/actual" || bad "file list"
dpkg-deb -c "$DEB" | awk '$1 ~ /^d/ && ($1 != "drwxr-xr-x" || $2 != "root/root") { print }' \
  | grep . && bad "directories must be root's and 0755"
dpkg-deb -c "$DEB" | awk '$2 != "root/root" { print }' | grep . && bad "files must be root's"

# The dependencies come from the libraries the programs link.
depends="$(dpkg-deb -f "$DEB" Depends)"
for lib in libc6 libgtk-3-0 libjpeg62-turbo libpng16-16 libx11-6; do
  case ", $depends" in *", $lib"*) ;; *) bad "Depends lacks $lib: $depends" ;; esac
done

dpkg-deb -x "$DEB" "$WORK/root"
for program in rovanta rovanta-render; do
  sections="$(LC_ALL=C readelf -S -W "$WORK/root/usr/bin/$program")"
  for s in .debug_info .symtab; do
    grep -qF " $s " <<<"$sections" && bad "$program keeps $s"
  done
done
[ "$(readlink -f "$WORK/root/usr/libexec/xscreensaver/rovanta")" = "$WORK/root/usr/bin/rovanta" ] \
  || bad "the hack does not lead to the program"
# The installed program answers its information options before any mode.
hack="$WORK/root/usr/libexec/xscreensaver/rovanta"
out="$(env -u DISPLAY "$hack" --version 2>&1)" && [ "$out" = "rovanta 1.2" ] \
  || bad "--version: status $?, '$out'"
out="$(env -u DISPLAY "$hack" --help 2>&1)" || bad "--help: status $?"
for word in usage: /s /p /c --root --window-id --speed ROVANTA_CONFIG rovanta.cfg; do
  grep -qF -- "$word" <<<"$out" || bad "--help does not mention $word"
done

for page in man6/rovanta.6.gz man1/rovanta-render.1.gz; do
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$WORK/root/usr/share/man/$page" \
    >"$WORK/page" 2>"$WORK/warnings"
  [ -s "$WORK/warnings" ] && bad "$page: $(cat "$WORK/warnings")"
  grep -q 'EXIT STATUS' "$WORK/page" || [ "$page" != man6/rovanta.6.gz ] || bad "$page has no EXIT STATUS"
done

if command -v lintian >/dev/null; then
  lintian --fail-on error --tag-display-limit 0 "$DEB" >"$WORK/lintian" 2>&1 \
    || { grep -v 'root privileges' "$WORK/lintian"; bad "lintian reports errors"; }
else
  bad "lintian is not installed (scripts/setup.sh installs it)"
fi

[ "$fail" -eq 0 ] && echo "package: $(wc -l <"$expected") files, lintian clean"
exit "$fail"
