#!/bin/sh
# Makes an arm64 Debian 12 root with debootstrap from this machine's Debian archive (the second
# stage runs through qemu-user-static and binfmt), installs the arm64 packages from out/packages/
# there with apt-get and runs the tools on the simulated board and configlist on surfaceless Mesa
# inside it. Needs root, debootstrap and an arm64 binfmt entry (tools/install-deps.sh
# tools/packages-cross.txt sets it up). Prints how long each step took.
# Usage: packaging/arm64-root-test.sh [root-folder]
# Without a folder, the root is made in a fresh folder under /var/tmp and removed at the end. A
# folder given is kept, and a root already made there is used again (its packages replaced).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -gt 0 ]; then
    root=$(realpath -m "$1")
    keep=1
    mkdir -p "$root"
else
    root=$(mktemp -d /var/tmp/bringup-arm64-root.XXXXXX)
    keep=
fi
# apt's download user must reach the root's lists.
chmod 755 "$root"
suite=bookworm
TESTLIB_NAME=arm64-root-test
. "$top/tests/lib/testlib.sh"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
# check_in_root <description> <command...>: a check of a command run inside the root.
check_in_root() { what=$1; shift; check "$what" in_root "$@"; }
step_start=$(date +%s)
step() { now=$(date +%s); measure "$1" $((now - step_start)) s; step_start=$now; }

cleanup() {
    for m in proc dev; do umount "$root/$m" 2>/dev/null || true; done
    rm -f "$root.log"
    [ -n "$keep" ] || rm -rf "$root"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

[ "$(id -u)" -eq 0 ] || { echo "arm64-root-test: needs root" >&2; exit 1; }
debs=$(ls "$top"/out/packages/*_arm64.deb 2>/dev/null || true)
[ -n "$debs" ] || { echo "arm64-root-test: no arm64 packages in out/packages (make package PRESET=aarch64)" >&2; exit 1; }
[ -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ] || { echo "arm64-root-test: no arm64 binfmt entry" >&2; exit 1; }
# The archive this machine installs from (deb822 or one-line sources).
mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security | head -n 1)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" && $0 !~ /security/ { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
[ -n "$mirror" ] || { echo "arm64-root-test: no Debian archive configured" >&2; exit 1; }

if [ -e "$root/etc/debian_version" ] && [ ! -d "$root/debootstrap" ]; then
    echo "using the arm64 root already in $root"
else
    debootstrap --arch=arm64 --variant=minbase --foreign "$suite" "$root" "$mirror" >"$root.log" 2>&1 \
        || { tail -20 "$root.log"; exit 1; }
    step "debootstrap, first stage"
    chroot "$root" /debootstrap/debootstrap --second-stage >"$root.log" 2>&1 || { tail -20 "$root.log"; exit 1; }
    step "debootstrap, second stage (arm64 under qemu)"
fi

mount -t proc proc "$root/proc"
mount --bind /dev "$root/dev"
rm -rf "$root/srv/packages"
mkdir -p "$root/srv/packages"
cp $debs "$root/srv/packages/"
in_root apt-get update -qq
# Mesa's EGL and drivers are only recommended by the EGL loader: configlist needs them here.
in_root sh -c 'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    /srv/packages/*.deb libegl-mesa0 libgl1-mesa-dri' >"$root.log" 2>&1 || { tail -20 "$root.log"; exit 1; }
in_root dpkg-query -W -f='  ${Package} ${Version} ${Architecture}\n' board-bringup-tools board-bringup-demos \
    libdemobase0 libdemobase-dev board-bringup-sim
step "apt-get install of the arm64 packages"

board=/tmp/board
check_in_root "boardsim makes a board" boardsim create $board
check_in_root "wlanpower 1 on the board" boardsim run $board -- /usr/sbin/wlanpower 1
check_in_root "wlanpower's request reached the driver" grep -q /dev/wifi_power $board/trace.log
check_in_root "pcmcapture captures ten seconds" sh -c "cd /tmp && boardsim run $board -- /usr/sbin/pcmcapture && test -s output.pcm"
for daemon in otgpower otgpoweriddq otgpowersave; do
    in_root boardsim create $board >/dev/null
    check_in_root "$daemon runs on the board until stopped" sh -c \
        "timeout 5 boardsim run $board -- /usr/sbin/$daemon; test \$? -eq 124 && grep -q /sys/devices/lm0/gotgctl $board/trace.log"
done
check_in_root "configlist on surfaceless Mesa" sh -c 'EGL_PLATFORM=surfaceless configlist >/tmp/configlist.out && test -s /tmp/configlist.out'
step "smoke runs"

summary
