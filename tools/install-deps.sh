#!/bin/sh
# Installs the Debian packages listed in tools/packages.txt that are missing.
# Usage: tools/install-deps.sh [extra-list...]   (e.g. tools/packages-assets.txt)
# A list may name packages of another architecture (libx11-dev:arm64): that architecture is then
# enabled first. When qemu-user-static is listed, the kernel is also made to run arm64 programs
# through it (binfmt_misc), as the aarch64 preset's tests need.
set -e
here=$(cd "$(dirname "$0")" && pwd)
lists="$here/packages.txt $*"
packages=$(cat $lists | sed 's/#.*//')

root=yes
[ "$(id -u)" -eq 0 ] || root=""
todo=""

# Foreign architectures the lists name, not yet enabled.
arches=""
for arch in $(printf '%s\n' $packages | sed -n 's/^[^:]*:\([a-z0-9]*\)$/\1/p' | sort -u); do
    [ "$arch" = "$(dpkg --print-architecture)" ] && continue
    dpkg --print-foreign-architectures | grep -qx "$arch" || arches="$arches $arch"
done

missing=""
for pkg in $packages; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $pkg" ;;
    esac
done

if [ -n "$arches$missing" ]; then
    echo "install-deps: missing packages:$missing${arches:+ (and architectures:$arches)}"
    if [ -z "$root" ]; then
        for arch in $arches; do todo="${todo}dpkg --add-architecture $arch && "; done
        echo "install-deps: run as root: ${todo}apt-get update && apt-get install -y$missing" >&2
        exit 1
    fi
    for arch in $arches; do dpkg --add-architecture "$arch"; done
    export DEBIAN_FRONTEND=noninteractive
    apt-get -o DPkg::Lock::Timeout=900 update -qq
    apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends $missing
fi

# arm64 programs started directly (by a test, or by another arm64 program) reach qemu through
# binfmt_misc. The handler is Debian's own, registered with the F flag, so it works from any
# mount namespace too.
case " $(echo $packages) " in *" qemu-user-static "*) ;; *) exit 0 ;; esac
binfmt=/proc/sys/fs/binfmt_misc
[ -e "$binfmt/qemu-aarch64" ] && exit 0
if [ -z "$root" ]; then
    echo "install-deps: run as root: mount -t binfmt_misc binfmt_misc $binfmt;" \
         "cat /usr/lib/binfmt.d/qemu-aarch64.conf > $binfmt/register" >&2
    exit 1
fi
[ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
cat /usr/lib/binfmt.d/qemu-aarch64.conf > "$binfmt/register"
echo "install-deps: arm64 programs now run through qemu-aarch64-static"
