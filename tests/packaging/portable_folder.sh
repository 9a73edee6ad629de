#!/usr/bin/env bash
# portable_folder.sh BUILD_DIR SOURCE_DIR
# Installs into a collection folder (a path with a space and a non-ASCII
# letter, holding a catalogue and a program folder already) and checks that the
# folder carries its program: every library that an executable, a library or a
# plugin needs is inside the folder or part of the system's base runtime, the
# collection's own files are untouched, and the window started from there maps
# no library from outside but the base runtime, reads the folder's font, and
# combines a dead key with the next letter through the folder's compose tables.
set -euo pipefail
build=$1
source_dir=$2
source "$source_dir/tests/e2e/xvfb_session.sh"

tmp=$(mktemp -d)
app_pid=
cleanup() {
    exec 2>/dev/null
    # The window first: strace ends with the program it traces.
    if [[ -n $app_pid ]]; then
        pkill -KILL -P "$app_pid" 2>/dev/null || true
        stop_process "$app_pid"
    fi
    stop_xvfb
    rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The base runtime that the folder leaves to the system: glibc, the loader,
# libstdc++ and libgcc.
base='^(ld-linux-x86-64|libc|libm|libdl|libpthread|librt|libresolv|libutil|libanl|libstdc\+\+|libgcc_s)\.so\.[0-9.]+$'
# The newest glibc the folder may need; README names it.
glibc_needed=2.36

folder="$tmp/Zbirka ć"
mkdir -p "$folder/Programi/Alat"
printf 'catalogue bytes\n' >"$folder/Velmora2.db"
printf 'setup bytes\n' >"$folder/Programi/Alat/Setup.exe"
before=$(cd "$folder" && find Velmora2.db Programi -printf '%p %s %T@\n' | sort)

# Twice: the second install updates the folder in place.
cmake --install "$build" --prefix "$folder" >"$tmp/install.log"
cmake --install "$build" --prefix "$folder" >>"$tmp/install.log"

after=$(cd "$folder" && find Velmora2.db Programi -printf '%p %s %T@\n' | sort)
[[ $before == "$after" ]] || fail "the install touched the collection's own files"

# Only our own entries beside the collection's: nothing looks like a program.
entries=$(cd "$folder" && ls -A | sort | tr '\n' ' ')
[[ $entries == "Programi Velmora2.db Velmora2ADD fonts lib plugins qt.conf share velmora2-add velmora2-init velmora2-list " ]] ||
    fail "unexpected entries in the folder: $entries"
[[ -z $(find "$folder" -type l) ]] || fail "symbolic links in the folder (exFAT and NTFS hold none)"
[[ -f $folder/fonts/tahoma.ttf && -f $folder/fonts/fonts.conf ]] || fail "the font is missing"
[[ -f $folder/share/X11/locale/compose.dir ]] || fail "the compose tables are missing"

# Every ELF file: its search path points into the folder, and each library it
# needs is in lib/ or in the base runtime.
check_elf() {
    local file=$1 runpath=$2
    local dynamic
    dynamic=$(readelf -d "$file")
    grep -qF "Library runpath: [$runpath]" <<<"$dynamic" || fail "$file: runpath is not $runpath"
    local needed
    while read -r needed; do
        [[ $needed =~ $base ]] && continue
        [[ -f $folder/lib/$needed ]] || fail "$file needs $needed, which is not in lib/"
    done < <(sed -n 's/.*Shared library: \[\(.*\)\]/\1/p' <<<"$dynamic")
    # No debug information left.
    ! readelf -S "$file" | grep -q '\.debug_info' || fail "$file is not stripped"
}
count=0
for exe in Velmora2ADD velmora2-init velmora2-add velmora2-list; do
    check_elf "$folder/$exe" '$ORIGIN/lib'
    count=$((count + 1))
done
for library in "$folder"/lib/*; do
    check_elf "$library" '$ORIGIN'
    count=$((count + 1))
done
while IFS= read -r -d '' plugin; do
    check_elf "$plugin" '$ORIGIN/../../lib'
    count=$((count + 1))
done < <(find "$folder/plugins" -name '*.so' -print0)
[[ -f $folder/plugins/platforms/libqxcb.so ]] || fail "the xcb platform plugin is missing"

# The newest glibc symbol version any file asks for.
newest=$(find "$folder" -type f \( -name '*.so*' -o -perm -u+x \) -exec objdump -T {} + 2>/dev/null |
    grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -n 1)
[[ $(printf '%s\n%s\n' "$newest" "$glibc_needed" | sort -V | tail -n 1) == "$glibc_needed" ]] ||
    fail "the folder needs glibc $newest, newer than the $glibc_needed the README names"

# The companions run from the folder.
"$folder/velmora2-add" --help >/dev/null || fail "velmora2-add does not start"
"$folder/velmora2-list" --help >/dev/null || fail "velmora2-list does not start"

# The window, started from the folder, with the folder's own font, adding to
# a real catalogue.
rm "$folder/Velmora2.db"
"$folder/velmora2-init" "$folder" >/dev/null
printf 'setup\n' >"$tmp/setup.exe"
printf 'picture\n' >"$tmp/picture.bmp"
start_xvfb "$tmp"
# A dead key of its own before the window reads the keyboard map (a remap
# while typing can race the window).
xmodmap -e "keycode 254 = dead_caron"
unset QT_PLUGIN_PATH FONTCONFIG_FILE LD_LIBRARY_PATH XLOCALEDIR XCOMPOSEFILE QT_IM_MODULE
strace -f -qq -e trace=openat -o "$tmp/open.log" "$folder/Velmora2ADD" >"$tmp/app.log" 2>&1 &
app_pid=$!
wid=$(find_window 60 "Velmora 2.0 ADD New Program") || true
[[ -n $wid ]] || {
    cat "$tmp/app.log" >&2
    fail "the installed window did not appear"
}
# Every library the running window mapped: inside the folder or base runtime.
window_pid=$(pgrep -P "$app_pid" -x Velmora2ADD || echo "$app_pid")
while read -r mapped; do
    [[ $mapped == "$folder/"* ]] && continue
    [[ $(basename "$mapped") =~ $base ]] && continue
    [[ $mapped == */gconv/* ]] && continue
    fail "the window loaded $mapped from outside the folder"
done < <(awk '$6 ~ /\.so/ {print substr($0, index($0, $6))}' "/proc/$window_pid/maps" | sort -u)
# strace writes the folder's non-ASCII letter as escapes; the temporary
# folder above it is plain ASCII.
grep -F "\"$tmp/" "$tmp/open.log" | grep -F '/fonts/tahoma.ttf"' | grep -qv ' = -1 ' ||
    fail "the window did not read the folder's font"
grep -qF "/usr/share/wine/fonts/tahoma.ttf" "$tmp/open.log" && fail "the window read the system's font"

# A dead caron and "c" type one "č" into the program's name.
eval "$(xdotool getwindowgeometry --shell "$wid")"
xdotool windowfocus --sync "$wid" 2>/dev/null || true
type_into 140 34 "Prevodila" # Program
xdotool key --clearmodifiers dead_caron c
type_into 124 130 "$tmp/setup.exe"   # Source
type_into 124 170 "$tmp/picture.bmp" # Slika
click 140 260                        # Dodaj
program() { sqlite3 -readonly "$folder/Velmora2.db" "SELECT hex(Program) FROM CD;"; }
added() { [[ -n $(program) ]]; }
wait_until 30 added || fail "no row after Dodaj"
[[ $(program) == "$(printf 'Prevodila\xc4\x8d' | od -An -tx1 | tr -d ' \n' | tr 'a-f' 'A-F')" ]] ||
    fail "the dead key did not combine: the name is '$(sqlite3 -readonly "$folder/Velmora2.db" \
        "SELECT Program FROM CD;")'"
grep -F "\"$tmp/" "$tmp/open.log" | grep -F '/share/X11/locale/' | grep -F '/Compose"' |
    grep -qv ' = -1 ' || fail "the window did not read the folder's compose table"
grep -qF '"/usr/share/X11/locale/' "$tmp/open.log" && fail "the window read the system's compose tables"

echo "portable folder: $count ELF files checked, glibc $newest at most, $(du -sh "$folder" | cut -f1)"
