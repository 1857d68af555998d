#!/usr/bin/env bash
# The include graph of src/ between modules (its top-level folders), checked
# against the layering:
#   - nothing under src/platform includes a file outside src/platform;
#   - no circle between modules;
#   - no module includes one above it: platform < settings < render < loader < host;
#   - the plain libraries (settings, render, loader) include no operating
#     system header: what they need of the system goes through the platform.
#   - settings, render and loader name no operating system either: no
#     _WIN32, no __stdcall, no library file ("KERNEL32.DLL", ".CPL") in a
#     string;
#   - the programs (tools/, bench/) use the modules and the platform's
#     interface (platform.h and the headers it shares with the programs),
#     never a backend's own files; of tests/ they include only the library
#     they share with the tests (tests/render/reference.cmake), and otherwise
#     only files of their own folder.
# Prints the module graph; exits 1 on a breach. Usage: check-layering.sh [tree]
# (the tree defaults to the one this script is in).
set -euo pipefail
root=${1:-"$(dirname "$0")/.."}
src="$root/src"
[[ -d $src ]] || { echo "no src/ in $root" >&2; exit 2; }

modules=(platform settings render loader host)
declare -A rank
for i in "${!modules[@]}"; do rank[${modules[$i]}]=$i; done

edges=$(mktemp)
breaches=$(mktemp)
trap 'rm -f "$edges" "$breaches"' EXIT

# Every #include of a file of src/ ("module/header.h"), as "file:line:text".
while IFS= read -r line; do
  file=${line%%:*}
  rel=${file#"$src"/}
  from=${rel%%/*}
  [[ $line =~ include[[:space:]]*[\"\<]([^\"\>]*) ]] || continue
  target=${BASH_REMATCH[1]}
  to=${target%%/*}
  if [[ $from =~ ^(settings|render|loader)$ && $target =~ ^(windows\.h|io\.h|unistd\.h|fcntl\.h|dirent\.h|signal\.h|sys/|X11/|gtk/|gdk/) ]]; then
    echo "$from includes an operating system header: $rel includes $target" >>"$breaches"
    continue
  fi
  # <gtk/gtk.h> and the like are not ours; a quoted name is ours or a mistake.
  if [[ ! -d $src/$to || $target != */* ]]; then
    [[ $line =~ \#[[:space:]]*include[[:space:]]*\" ]] || continue
    echo "$rel includes \"$target\", not a path from src/" >>"$breaches"
    continue
  fi
  [[ $from == "$to" ]] && continue
  echo "$from $to" >>"$edges"
  if [[ $from == platform ]]; then
    echo "platform includes outside itself: $rel includes $target" >>"$breaches"
  elif [[ -n ${rank[$from]+x} && -n ${rank[$to]+x} ]] && ((rank[$to] > rank[$from])); then
    echo "$from includes a module above it: $rel includes $target" >>"$breaches"
  fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*["<]' "$src" \
           --include='*.h' --include='*.cpp' || true)

# The system named in a plain library.
while IFS= read -r line; do
  echo "names the operating system: ${line#"$src"/}" >>"$breaches"
done < <(grep -rnE '_WIN32|__stdcall|"[^"]*\.(DLL|dll|CPL|cpl)"' "$src"/settings "$src"/render \
           "$src"/loader --include='*.h' --include='*.cpp' || true)

# The programs. The platform's interface is what the portable modules may
# include of it; a backend's folder is its own.
platform_interface='^platform/(platform|pixel_surface|dialog_resource)\.h$'
# The shared test library: the headers of the sources reference.cmake lists.
shared_headers=" $(grep -oE '[A-Za-z_]+\.cpp' "$root/tests/render/reference.cmake" |
  sed 's/\.cpp$/.h/' | tr '\n' ' ')"
while IFS= read -r line; do
  file=${line%%:*}
  rel=${file#"$root"/}
  [[ $line =~ include[[:space:]]*\"([^\"]*)\" ]] || continue
  target=${BASH_REMATCH[1]}
  to=${target%%/*}
  if [[ $target == */* && -d $src/$to ]]; then
    if [[ $to == platform && ! $target =~ $platform_interface ]]; then
      echo "a program includes a platform backend's own file: $rel includes $target" >>"$breaches"
    fi
  elif [[ $target != */* && -f $(dirname "$file")/$target ]]; then
    :  # the program's own file
  elif [[ $target != */* && $shared_headers == *" $target "* ]]; then
    :  # the library the programs share with the tests
  else
    echo "$rel includes \"$target\", neither a module's nor the shared test library's" >>"$breaches"
  fi
done < <(for dir in "$root"/tools "$root"/bench; do
           [[ -d $dir ]] && grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$dir" \
             --include='*.h' --include='*.cpp'
         done || true)

echo "module graph (includer -> included):"
sort -u "$edges" | sed 's/ / -> /; s/^/  /'
failed=0
if [[ -s $breaches ]]; then
  sort -u "$breaches"
  failed=1
fi
if ! loops=$(sort -u "$edges" | tsort 2>&1 >/dev/null); then
  echo "circle between modules (tsort):"
  sed 's/^tsort: /  /' <<<"$loops"
  failed=1
fi

if ((failed)); then
  echo "layering: FAILED"
  exit 1
fi
echo "layering: ok"
