#!/bin/sh
# Installs the host architecture's packages from out/packages/ into this machine's /usr with
# apt-get, runs every program from its installed place (the tools on the simulated board of
# board-bringup-sim, the demos from their folders under Xvfb, configlist on Mesa), checks the
# manual pages and the service units, builds a demo written outside the tree against
# libdemobase-dev (pkg-config and find_package) and runs it, checks that what the packages take
# from other packages is in their dependencies, takes board-bringup-tools through reinstallation,
# removal and installation again with the units' states kept, runs its maintainer scripts as on a
# system booted with systemd, then purges the packages and checks that no file of theirs is left.
# Needs root. Whatever happens, the packages are purged at the end.
# Usage: packaging/install-test.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
arch=$(dpkg --print-architecture)
packages="board-bringup-tools board-bringup-demos libdemobase0 libdemobase-dev board-bringup-sim"
tools="pcmcapture otgpower otgpoweriddq otgpowersave wlanpower"
demos="lanterna veilglass tilemosaic"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
work=$(mktemp -d /tmp/bringup-install-test.XXXXXX)
TESTLIB_NAME=install-test TESTLIB_TMP=$work TESTLIB_XLOG=$work/xvfb.log
. "$root/tests/lib/testlib.sh"

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
    xserver_stop
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
measure installation $(( $(date +%s) - start )) s
dpkg-query -W -f='  ${Package} ${Version} ${Installed-Size} KiB\n' $packages
check "installed files match the packages' checksums" dpkg --verify $packages

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
xserver_start || { cat "$work/xvfb.log"; echo "install-test: Xvfb did not start" >&2; exit 1; }
DISPLAY=$TESTLIB_DISPLAY
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
# The demo writes a caption: with no assets/ of its own, the library takes the system's font, and
# says so on standard error when it cannot.
example_runs() {
    "$1" 5 2>"$work/example.err" | grep -qx "frames: 5" && ! test -s "$work/example.err" ||
        { cat "$work/example.err"; return 1; }
}
check "example demo (pkg-config) runs and writes its caption" example_runs "$work/example-pc"
check "example demo builds through find_package" sh -c \
    'cmake -S "$1" -B "$2/example-cmake" >/dev/null && cmake --build "$2/example-cmake" >/dev/null' sh "$example" "$work"
check "example demo (find_package) runs and writes its caption" example_runs "$work/example-cmake/exampledemo"
check "example demo links the installed library" sh -c \
    'ldd "$1" | grep -Eq "libdemobase.so.0 => (/usr)?/lib/$2/libdemobase.so.0"' sh "$work/example-cmake/exampledemo" "$multiarch"
xserver_stop

# --- what the packages take from other packages -------------------------------------------------
# depends_on <package> <file>: the package that owns <file> is one of <package>'s dependencies (or
# one of the alternatives of one).
depends_on() {
    owner=$(dpkg-query -S "$2" 2>/dev/null | grep -v '^diversion' | head -n 1 | cut -d: -f1)
    [ -n "$owner" ] || { echo "no package owns $2"; return 1; }
    dpkg-query -W -f='${Depends}\n' "$1" | tr ',|' '\n\n' | sed 's/(.*//; s/[[:space:]]//g; s/:.*//' |
        grep -qx "$owner" || { echo "$1 does not depend on $owner, which owns $2"; return 1; }
}
# The library's on-screen text reads a font from the system's font folder, both named in the library.
lib=/usr/lib/$multiarch/libdemobase.so.0
font_dir=$(strings "$lib" | grep -x '/usr/share/fonts/.*/' | head -n 1)
font=$(strings "$lib" | grep -x '[A-Za-z0-9_-]*\.ttf' | head -n 1)
check "libdemobase0 depends on the package of its font ($font_dir$font)" depends_on libdemobase0 "$font_dir$font"
# The CMake package finds EGL and GLES2 through the pkg-config program.
check "the CMake package looks for pkg-config" grep -q 'find_dependency(PkgConfig)' \
    "/usr/lib/$multiarch/cmake/demobase/demobaseConfig.cmake"
check "libdemobase-dev depends on the package of pkg-config" depends_on libdemobase-dev "$(command -v pkg-config)"

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

# --- board-bringup-tools reinstalled, removed and installed again ----------------------------
# The units' states through deb-systemd-helper and systemctl (which works on the unit files without
# a running systemd): registered at installation; an administrator's choice to enable one kept
# across reinstallation, removal (which masks them all) and installation again; purge, below, drops
# the enabled unit's link with everything else.
tools_deb=$(ls "$root"/out/packages/board-bringup-tools_*_"$arch".deb)
states() {
    for unit in otgpower otgpoweriddq otgpowersave; do
        printf '%s ' "$unit=$(systemctl is-enabled "$unit.service" 2>/dev/null)"
    done
}
expect_states() { got=$(states); [ "$got" = "$1" ] || { echo "expected: $1"; echo "actual:   $got"; return 1; }; }
# deb-systemd-helper answers its package's maintainer scripts only.
registered_disabled() {
    for unit in otgpower otgpoweriddq otgpowersave; do
        DPKG_MAINTSCRIPT_PACKAGE=board-bringup-tools deb-systemd-helper debian-installed "$unit.service" ||
            { echo "$unit.service is not registered"; return 1; }
        ! DPKG_MAINTSCRIPT_PACKAGE=board-bringup-tools deb-systemd-helper --quiet was-enabled "$unit.service" ||
            { echo "$unit.service is registered enabled"; return 1; }
    done
}
check "the units are registered with deb-systemd-helper, disabled" registered_disabled
check "an administrator enables otgpowersave.service" systemctl enable otgpowersave.service
# Enabled, the daemon also starts when the controller's port 0 comes (a driver bound after boot),
# a device that the udev rule installed makes known to systemd.
check "enabling otgpowersave.service has port 0's device want it" \
    test -L "/etc/systemd/system/$(systemd-escape --path --suffix=device /sys/devices/lm0).wants/otgpowersave.service"
check "the udev rule for the controller's ports is installed" test -s /usr/lib/udev/rules.d/60-board-bringup-usbpower.rules
check "board-bringup-tools installed again over itself (dpkg -i)" dpkg -i "$tools_deb"
check "reinstallation keeps otgpowersave enabled, the others disabled" \
    expect_states "otgpower=disabled otgpoweriddq=disabled otgpowersave=enabled "
check "board-bringup-tools removed while the other packages stay" \
    env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq board-bringup-tools
check "removal masks the units" expect_states "otgpower=masked otgpoweriddq=masked otgpowersave=masked "
check "boardsim still works without board-bringup-tools" boardsim create "$work/board-after-removal"
check "board-bringup-tools installed again" \
    env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$tools_deb"
check "installation again unmasks the units and keeps otgpowersave enabled" \
    expect_states "otgpower=disabled otgpoweriddq=disabled otgpowersave=enabled "
check "installed files match the packages' checksums after all that" dpkg --verify $packages

# The maintainer scripts as on a system booted with systemd: each runs in a mount namespace of its
# own whose /run has systemd/system, with recorders standing in for systemctl, deb-systemd-invoke and
# deb-systemd-helper. Removal stops the daemons, an upgrade reloads systemd and restarts the running
# ones; with DPKG_ROOT set (dpkg --root, scripts run outside the root) the running systemd is not
# the root's and is left alone.
mkdir -p "$work/recorders"
for helper in deb-systemd-helper deb-systemd-invoke systemctl; do
    cat >"$work/recorders/$helper" <<RECORDER
#!/bin/sh
echo "$helper \$*" >>"$work/calls"
RECORDER
    chmod +x "$work/recorders/$helper"
done
# booted <script> <args...>: the calls reaching the running systemd (deb-systemd-helper's left out).
booted() {
    script=$1
    shift
    : >"$work/calls"
    unshare -m sh -c \
        'mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/system && PATH="$1:$PATH" && shift && "$@"' \
        sh "$work/recorders" "/var/lib/dpkg/info/board-bringup-tools.$script" "$@" >/dev/null 2>&1 ||
        echo "exit status $?"
    grep -v '^deb-systemd-helper ' "$work/calls"
}
# expect_calls <expected> <actual>
expect_calls() { [ "$1" = "$2" ] || { printf 'expected:\n%s\nactual:\n%s\n' "$1" "$2"; return 1; }; }
each() { for unit in otgpower otgpoweriddq otgpowersave; do echo "$1 $unit.service"; done; }
version=$(dpkg-query -W -f='${Version}' board-bringup-tools)
if unshare -m true 2>/dev/null; then
    check "prerm remove stops the daemons" expect_calls "$(each "deb-systemd-invoke stop")" "$(booted prerm remove)"
    check "postinst configure after an upgrade restarts the running daemons" \
        expect_calls "$(echo "systemctl --system daemon-reload"; each "deb-systemd-invoke try-restart")" \
        "$(booted postinst configure "$version")"
    check "postinst configure of a first installation starts nothing" \
        expect_calls "systemctl --system daemon-reload" "$(booted postinst configure)"
    check "postrm remove reloads systemd" expect_calls "systemctl --system daemon-reload" "$(booted postrm remove)"
    for script in "prerm remove" "postinst configure $version" "postrm remove"; do
        check "$script with DPKG_ROOT leaves the running systemd alone" \
            expect_calls "" "$(export DPKG_ROOT="$work/root"; booted $script)"
    done
else
    echo "note: no mount namespace (unshare -m): the scripts are not run as on a system booted with systemd"
fi

# --- purge leaves nothing behind -------------------------------------------------------------
files="$work/files"
for deb in $debs; do dpkg-deb -c "$deb"; done | awk '{ sub(/^\./, "", $6); print $6 }' | sort -u >"$files"
start=$(date +%s)
purge
measure purge $(( $(date +%s) - start )) s
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

summary
