#!/usr/bin/env bash
# Checks the installed program as a user would get it: the menu entry and metainfo validate,
# an install into a fresh prefix starts through its link and loads the hand cursor beside the
# real executable, and the Debian package holds exactly the expected files.
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
appstreamcli validate --no-net "$source/resources/desktop/org.kerrimand.VocordaCallRecorder.metainfo.xml" >/dev/null
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
for library in libmp3lame0 libsndfile1 libqt6widgets6 libpulse0; do
    [[ "$depends" == *"$library"* ]] || { echo "Depends lacks $library: $depends" >&2; exit 1; }
done
ok "the package depends on the libraries of the program and its encoder"
echo "$passed passed, 0 failed"
