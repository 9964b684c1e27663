#!/bin/sh
# Installs the host architecture's packages from out/packages/ into this machine's /usr with
# apt-get, runs every program from its installed place (the tools on the simulated board of
# board-bringup-sim, the demos from their folders under Xvfb, configlist on Mesa), checks the
# manual pages and the service units, builds a demo written outside the tree against
# libdemobase-dev (pkg-config and find_package) and runs it, then purges the packages and checks
# that no file of theirs is left. Needs root. Whatever happens, the packages are purged at the end.
# Usage: packaging/install-test.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
arch=$(dpkg --print-architecture)
packages="board-bringup-tools board-bringup-demos libdemobase0 libdemobase-dev board-bringup-sim"
tools="pcmcapture otgpower otgpoweriddq otgpowersave wlanpower"
demos="lanterna veilglass tilemosaic"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
work=$(mktemp -d /tmp/bringup-install-test.XXXXXX)
passed=0
failed=0
xvfb_state="$work/xvfb.state"

ok() { passed=$((passed + 1)); echo "ok: $*"; }
fail() { failed=$((failed + 1)); echo "FAILED: $*"; }
# check <description> <command...>: counts the command's success or failure.
check() {
    what=$1; shift
    if "$@" >"$work/last.log" 2>&1; then ok "$what"; else fail "$what"; sed 's/^/  | /' "$work/last.log"; fi
}

purge() {
    installed=""
    for p in $packages; do
        if dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -qv '^not-installed$'; then
            installed="$installed $p"
        fi
    done
    [ -z "$installed" ] || DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq $installed >"$work/purge.log" 2>&1
}
cleanup() {
    "$root/tests/xvfb/stop.sh" "$xvfb_state" 2>/dev/null || true
    purge || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

[ "$(id -u)" -eq 0 ] || { echo "install-test: needs root (it installs into /usr)" >&2; exit 1; }
debs=$(ls "$root"/out/packages/*_"$arch".deb 2>/dev/null || true)
[ -n "$debs" ] || { echo "install-test: no $arch packages in out/packages (make package)" >&2; exit 1; }

# Start from a machine without our packages.
purge
start=$(date +%s)
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $debs >"$work/install.log" 2>&1 \
    || { cat "$work/install.log"; echo "install-test: apt-get install failed" >&2; exit 1; }
echo "installed in $(( $(date +%s) - start )) s:"
dpkg-query -W -f='  ${Package} ${Version} ${Installed-Size} KiB\n' $packages

# Packaged binaries find their libraries in the system's places, not through an RPATH.
no_rpath() {
    for f in "$@"; do
        if readelf -d "$f" | grep -Eq 'RPATH|RUNPATH'; then echo "$f has an RPATH"; return 1; fi
    done
}
check "installed binaries carry no RPATH" no_rpath $(for p in $packages; do dpkg -L "$p"; done |
    grep -E '^/usr/(s?bin/|lib/)' | while read -r f; do [ -f "$f" ] && [ ! -L "$f" ] &&
    head -c 4 "$f" | grep -q ELF && echo "$f"; done)

# --- the tools on the simulated board --------------------------------------------------------
board="$work/board"
sim() { boardsim run "$board" -- "$@"; }
trace_has() { grep -q "$1" "$board/trace.log"; }

check "boardsim is on PATH and makes a board" boardsim create "$board"
for tool in $tools; do
    check "$tool installed in /usr/sbin" test -x "/usr/sbin/$tool"
done

cd "$work"
boardsim create "$board" >/dev/null
check "wlanpower 1 switches the module on" sim /usr/sbin/wlanpower 1
check "wlanpower's request reached the Wi-Fi driver" trace_has /dev/wifi_power
check "wlanpower without an argument ends with 255" sh -c '"$@"; test $? -eq 255' sh boardsim run "$board" -- /usr/sbin/wlanpower

boardsim create "$board" >/dev/null
check "pcmcapture captures ten seconds" sim /usr/sbin/pcmcapture
check "pcmcapture wrote output.pcm" test -s "$work/output.pcm"

# The daemons run until killed: each gets a few seconds on the board, then must still be running
# (timeout's 124) and have switched the ports' PHY power.
for daemon in otgpower otgpoweriddq otgpowersave; do
    boardsim create "$board" >/dev/null
    check "$daemon runs on the board until stopped" sh -c '"$@"; test $? -eq 124' sh \
        timeout 3 boardsim run "$board" -- "/usr/sbin/$daemon"
    check "$daemon read the controller's port state" trace_has /sys/devices/lm0/gotgctl
done
boardsim create "$board" --profile otg-2.20a >/dev/null
check "otgpower refuses an unsupported controller with 255" sh -c '"$@"; test $? -eq 255' sh \
    boardsim run "$board" -- /usr/sbin/otgpower

# --- the demos and configlist ------------------------------------------------------------------
"$root/tests/xvfb/start.sh" "$xvfb_state" >/dev/null
DISPLAY=$(cut -d' ' -f1 "$xvfb_state")
export DISPLAY
for demo in $demos; do
    folder=/usr/share/board-bringup/samples/$demo
    check "$demo has its folder" test -d "$folder/assets"
    # A demo draws until its window is closed: still drawing after a few seconds, with nothing on
    # standard error, is a demo that set up its textures and shaders.
    check "$demo draws from its folder" sh -c 'cd "$1" && timeout 4 "$2" 2>"$3"; test $? -eq 124 && ! test -s "$3"' sh \
        "$folder" "/usr/bin/$demo" "$work/$demo.err"
done
# bringup-check from /usr/sbin: boardsim's library from the link in /usr/bin, the suite's programs
# from /usr/sbin and /usr/bin.
boardsim create "$board" >/dev/null
check "bringup-check installed in /usr/sbin" test -x /usr/sbin/bringup-check
check "bringup-check passes the simulated board" /usr/sbin/bringup-check --sim "$board" --switch \
    --only audio,usb,wifi,egl --seconds 2 --out "$work/check"
check "bringup-check wrote results.json and report.html" test -s "$work/check/results.json" -a -s "$work/check/report.html"
check "the frame-counting preload is private" test -f "/usr/lib/$multiarch/board-bringup/libbringup-swapcount.so" \
    -a ! -e "/usr/lib/$multiarch/libbringup-swapcount.so"
check "configlist lists the configurations on X11" sh -c 'configlist >"$1" && test -s "$1"' sh "$work/configlist.x11"
check "configlist lists the configurations on surfaceless Mesa" sh -c \
    'EGL_PLATFORM=surfaceless configlist >"$1" && test -s "$1"' sh "$work/configlist.surfaceless"

# --- a demo written outside the tree, against libdemobase-dev -----------------------------------
example="$root/packaging/tests/exampledemo"
check "example demo builds through pkg-config" sh -c \
    'g++ -std=c++17 -Wall -Werror -o "$2/example-pc" "$1/exampledemo.cpp" $(pkg-config --cflags --libs demobase)' \
    sh "$example" "$work"
check "example demo (pkg-config) runs" sh -c '"$1" 5 | grep -qx "frames: 5"' sh "$work/example-pc"
check "example demo builds through find_package" sh -c \
    'cmake -S "$1" -B "$2/example-cmake" >/dev/null && cmake --build "$2/example-cmake" >/dev/null' sh "$example" "$work"
check "example demo (find_package) runs" sh -c '"$1" 5 | grep -qx "frames: 5"' sh "$work/example-cmake/exampledemo"
check "example demo links the installed library" sh -c \
    'ldd "$1" | grep -Eq "libdemobase.so.0 => (/usr)?/lib/$2/libdemobase.so.0"' sh "$work/example-cmake/exampledemo" "$multiarch"
"$root/tests/xvfb/stop.sh" "$xvfb_state"

# --- manual pages and service units ----------------------------------------------------------
for program in $tools $demos configlist boardsim bringup-check; do
    case $program in bringup-check) command -v bringup-check >/dev/null || continue ;; esac
    if ls "$root"/docs/man/"$program".*scd >/dev/null 2>&1; then
        check "man finds the page of $program" man -w "$program"
    else
        echo "note: no manual page source for $program yet"
    fi
done
for unit in otgpower otgpoweriddq otgpowersave; do
    file=/usr/lib/systemd/system/$unit.service
    man_check=--man=no
    man -w "$unit" >/dev/null 2>&1 && man_check=--man=yes
    check "systemd-analyze verify $unit.service" systemd-analyze verify "$man_check" "$file"
    check "$unit.service is installed disabled" sh -c '! ls /etc/systemd/system/*/"$1" 2>/dev/null | grep -q .' sh "$unit.service"
done

# --- purge leaves nothing behind -------------------------------------------------------------
files="$work/files"
for deb in $debs; do dpkg-deb -c "$deb"; done | awk '{ sub(/^\./, "", $6); print $6 }' | sort -u >"$files"
start=$(date +%s)
purge
echo "purged in $(( $(date +%s) - start )) s"
left=""
while read -r path; do
    [ -n "$path" ] && [ "$path" != / ] || continue
    # Folders that other packages share (/usr/bin, /usr/share/doc, ...) stay.
    if [ -d "$path" ] && [ ! -L "$path" ]; then
        dpkg -S "$path" >/dev/null 2>&1 && continue
    fi
    if [ -e "$path" ] || [ -L "$path" ]; then left="$left $path"; fi
done <"$files"
for extra in /var/lib/systemd/deb-systemd-helper-enabled /var/lib/systemd/deb-systemd-helper-masked /etc/systemd/system; do
    [ -d "$extra" ] && left="$left $(find "$extra" -name 'otgpower*' 2>/dev/null | tr '\n' ' ')"
done
for p in $packages; do
    ls /var/lib/dpkg/info/"$p".* /var/lib/dpkg/info/"$p":*.* 2>/dev/null | grep -q . && left="$left /var/lib/dpkg/info/$p.*"
done
left=$(echo $left)
if [ -z "$left" ]; then ok "purge leaves no file behind"; else fail "purge left: $left"; fi

echo "install-test: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
