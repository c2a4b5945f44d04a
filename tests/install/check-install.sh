#!/usr/bin/env bash
# Checks the installed program as a user would get it: the menu entry and metainfo validate,
# an install into a fresh prefix starts through its link and loads the hand cursor beside the
# real executable, and the Debian package holds exactly the expected files and depends on every
# library the program and its encoder load.
# Usage: check-install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
work=$(mktemp -d)
pid=
cleanup() {
    [ -n "$pid" ] && kill "$(pgrep -P "$pid")" "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
passed=0
ok() { echo "ok: $1"; passed=$((passed + 1)); }

desktop-file-validate "$source/resources/desktop/org.kerrimand.VocordaCallRecorder.desktop"
ok "desktop entry validates"
metainfo=$source/resources/desktop/org.kerrimand.VocordaCallRecorder.metainfo.xml
verdict=$(appstreamcli validate --no-net "$metainfo" 2>&1) || {
    echo "$verdict" >&2
    exit 1
}
ok "metainfo validates"

cmake --install "$build" --prefix "$work/prefix" >/dev/null
[ "$(readlink "$work/prefix/bin/vocorda-call-recorder")" = ../lib/vocorda-call-recorder/vocorda-call-recorder ]
ok "bin/vocorda-call-recorder links to the program"

mkdir -p "$work/home" "$work/temp"
HOME="$work/home" TEMP="$work/temp" QT_QPA_PLATFORM=offscreen \
    strace -f -qq -e trace=openat -o "$work/trace" "$work/prefix/bin/vocorda-call-recorder" &
pid=$!
for _ in $(seq 100); do
    grep -q 'HAND-M.CUR' "$work/trace" 2>/dev/null && break
    sleep 0.1
done
# strace lets its program run on when it is stopped itself: stop the program.
kill "$(pgrep -P "$pid")"
wait "$pid" 2>/dev/null || true
pid=
grep -E "openat\(.*\"$work/prefix/lib/vocorda-call-recorder/HAND-M.CUR\".*= [0-9]+$" "$work/trace" >/dev/null
ok "started through the link, it loads the hand cursor from its own folder"

(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^$' | sort >"$work/contents"
diff -u "$source/tests/install/expected-deb-contents.txt" "$work/contents"
ok "the package holds exactly the expected files"
depends=$(dpkg-deb -f "$deb" Depends)
[ -n "$depends" ] || { echo "the package has no Depends" >&2; exit 1; }
# Every library the program and its embedded encoder load by name must come from a package it
# depends on (what those libraries load in turn is their packages' business).
owner() {
    local path=$1 found
    for candidate in "$path" "$(realpath "$path")" "${path#/usr}" "/usr$path"; do
        found=$(dpkg-query -S "$candidate" 2>/dev/null | head -n1) && break
    done
    [ -n "$found" ] || { echo "no package holds $path" >&2; exit 1; }
    echo "${found%%:*}"
}
listed=$(tr ',|' '\n\n' <<<"$depends" | awk '{print $1}')
lame=$(grep -m1 '^LAME_EXECUTABLE:' "$build/CMakeCache.txt" | cut -d= -f2)
for program in "$build/vocorda-call-recorder" "$lame"; do
    for name in $(objdump -p "$program" | awk '$1 == "NEEDED" {print $2}'); do
        library=$(ldd "$program" | awk -v n="$name" '$1 == n {print $3}')
        package=$(owner "$library")
        grep -qxF "$package" <<<"$listed" ||
            { echo "Depends lacks $package (for $library of $program): $depends" >&2; exit 1; }
    done
done
[[ "$depends" == *qt6-qpa-plugins* ]] || { echo "Depends lacks the Qt platform plugins" >&2; exit 1; }
ok "the package depends on every library the program and its encoder load"
echo "$passed passed, 0 failed"
