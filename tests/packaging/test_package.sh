#!/bin/bash
# The Debian package: builds it with cpack from the build tree, checks its file list, control
# data and lintian's verdict, unpacks it into a scratch root and starts the installed launcher
# under the offscreen platform with a scratch home: the working folder and its log appear, the
# program stays up until told to stop.
# Usage: test_package.sh <build dir> <project version>
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../support/checks.sh"
build="$1"
version="$2"

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$SCRATCH/pkg" >"$SCRATCH/cpack.log" 2>&1 ||
    { cat "$SCRATCH/cpack.log"; exit 1; }
deb="$(ls "$SCRATCH"/pkg/tavio-assistant_"$version"_*.deb 2>/dev/null | head -n 1)"
check "package named after the project version" [ -n "$deb" ]
[ -n "$deb" ] || finish_checks

# --- contents: exactly these files ---
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./|/|' | sort >"$SCRATCH/files"
sort >"$SCRATCH/files.want" <<'EOF_FILES'
/etc/tavio/GlobalConfig.json
/usr/bin/tavio-assistant
/usr/lib/tavio/VozedIvazerida
/usr/lib/tavio/tavio-localservices
/usr/share/applications/tavio-assistant.desktop
/usr/share/doc/tavio-assistant/changelog.gz
/usr/share/doc/tavio-assistant/copyright
/usr/share/icons/hicolor/128x128/apps/tavio-assistant.png
/usr/share/icons/hicolor/16x16/apps/tavio-assistant.png
/usr/share/icons/hicolor/24x24/apps/tavio-assistant.png
/usr/share/icons/hicolor/256x256/apps/tavio-assistant.png
/usr/share/icons/hicolor/32x32/apps/tavio-assistant.png
/usr/share/icons/hicolor/48x48/apps/tavio-assistant.png
/usr/share/icons/hicolor/64x64/apps/tavio-assistant.png
/usr/share/man/man1/tavio-assistant.1.gz
/usr/share/tavio/protoFiles/ErrorResult.proto
/usr/share/tavio/protoFiles/HeartBeatCmd.proto
/usr/share/tavio/protoFiles/UserCmd.proto
/usr/share/tavio/protoFiles/protoIds.json
EOF_FILES
check "file list as expected" diff -u "$SCRATCH/files.want" "$SCRATCH/files"

# --- control data ---
field() { dpkg-deb -f "$deb" "$1"; }
check "version field" [ "$(field Version)" = "$version" ]
check "configuration is a conffile" [ "$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)" = /etc/tavio/GlobalConfig.json ]
for dep in libqt5widgets5 libqt5websockets5 libprotobuf libgstreamer1.0-0 libdw1 libcpp-httplib \
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav \
    gstreamer1.0-pulseaudio; do
    check "depends on $dep" bash -c "dpkg-deb -f '$deb' Depends | grep -q '$dep'"
done
check "debug information in a separate dbgsym package" \
    bash -c "ls '$SCRATCH'/pkg/tavio-assistant-dbgsym_'$version'_*.ddeb >/dev/null"
lintian "$deb" >"$SCRATCH/lintian.log" 2>&1
check "lintian: no errors" bash -c "! grep '^E:' '$SCRATCH/lintian.log'"
grep '^[EW]:' "$SCRATCH/lintian.log"

# --- installed into a scratch root ---
root="$SCRATCH/root"
dpkg -x "$deb" "$root"
launcher="$root/usr/bin/tavio-assistant"
check "--version is the program's embedded version" [ "$("$launcher" --version)" = "tavio-assistant $version" ]
check "shipped configuration points at the local services' default address" \
    contains "$root/etc/tavio/GlobalConfig.json" '"sdkinit": "http://127.0.0.1:8686/sdkinit"'
check "desktop entry valid" desktop-file-validate "$root/usr/share/applications/tavio-assistant.desktop"
check "desktop entry name" contains "$root/usr/share/applications/tavio-assistant.desktop" "Name=Tavio语音房电脑助手"

home="$SCRATCH/home"
data="$SCRATCH/data"
mkdir -p "$home"
HOME="$home" XDG_DATA_HOME="$data" QT_QPA_PLATFORM=offscreen "$launcher" >"$SCRATCH/run.log" 2>&1 &
pid=$!
at_end "kill -9 $pid"
work="$data/tavio"
log_has() { cat "$work"/log/valog_*.txt 2>/dev/null | grep -qF -- "$1"; }
check "working folder created" wait_until test -d "$work"
check "configuration seeded" wait_until cmp -s "$root/etc/tavio/GlobalConfig.json" "$work/Config/GlobalConfig.json"
check "schemas seeded" wait_until test -f "$work/protoFiles/protoIds.json"
check "log written there: start" wait_until log_has "main start"
check "log written there: version" wait_until log_has "version \"$version\""
sleep 1
check "the program stays up" kill -0 "$pid"
check "home left alone (XDG_DATA_HOME given)" [ -z "$(ls -A "$home")" ]
kill -TERM "$pid"
wait "$pid"
status=$?
check "stops when told to, exit status 0" [ "$status" = 0 ]
check "the stop went through the ordinary shutdown" wait_until log_has "main termination signal"

finish_checks
