#!/bin/sh
# Fetches one of Debian's own kernels, without installing it, into a cache under build/kernel/,
# and prints where a part of it lies.
#
# Usage: kernel/fetch-kernel.sh ARCH [WHAT]
#   ARCH  amd64 or arm64
#   WHAT  headers (default): the folder to build modules against, for `make -C kernel KDIR=...`
#         image:   the kernel image (vmlinuz)
#         modules: the kernel's modules folder (lib/modules/<release>)
#         release: the kernel release, e.g. 6.1.0-50-arm64
#         root:    the folder the packages were unpacked into
#
# The newest 6.1 ABI in the archive is taken, or the one named by KERNEL_ABI (e.g. 6.1.0-50, or
# 6.12.107+deb12 for Debian 12's newer kernel).
# The packages are downloaded with `apt-get download` and unpacked with `dpkg-deb -x`, once per
# release; a second call only prints. Installing arm64 kernel packages with apt would take the
# host's compilers away, which is why nothing here is installed.
#
# The headers of the foreign architecture use the build tools (fixdep, modpost) of the host's
# linux-kbuild package, so a module for arm64 is built on this host with
# `make -C kernel KDIR=$(kernel/fetch-kernel.sh arm64) ARCH=arm64 CROSS_COMPILE=aarch64-linux-gnu-`.
set -e
arch=${1:?usage: fetch-kernel.sh amd64|arm64 [headers|image|modules|release|root]}
what=${2:-headers}
case "$arch" in amd64|arm64) ;; *) echo "fetch-kernel: no such architecture: $arch" >&2; exit 2 ;; esac
case "$what" in headers|image|modules|release|root) ;; *) echo "fetch-kernel: no such part: $what" >&2; exit 2 ;; esac

here=$(cd "$(dirname "$0")/.." && pwd)
cache="$here/build/kernel"
host=$(dpkg --print-architecture)

abi=${KERNEL_ABI:-$(apt-cache search --names-only '^linux-headers-6\.1\.0-[0-9]+-common$' |
    sed -n 's/^linux-headers-\(6\.1\.0-[0-9]*\)-common .*/\1/p' | sort -t- -k2 -n | tail -n 1)}
if [ -z "$abi" ]; then
    echo "fetch-kernel: no 6.1 kernel headers in the package lists (apt-get update?)" >&2
    exit 1
fi
release="$abi-$arch"
root="$cache/$release"

if [ ! -e "$root/.unpacked" ]; then
    debs="$cache/debs"
    mkdir -p "$debs" "$root"
    # The build tools: linux-kbuild-<abi> (6.12 and later), or linux-kbuild-6.1 of the exact
    # upstream version of the headers.
    version=$(apt-cache show "linux-headers-$abi-common" | sed -n 's/^Version: //p' | head -n 1)
    kbuild=linux-kbuild-$abi
    apt-cache show "$kbuild" > /dev/null 2>&1 || kbuild=linux-kbuild-6.1
    foreign=""
    [ "$arch" = "$host" ] || foreign=":$arch"
    (cd "$debs" && apt-get download -q \
        "linux-image-$release$foreign" "linux-headers-$release$foreign" \
        "linux-headers-$abi-common" "$kbuild:$host=$version" >&2)
    for deb in "$debs"/linux-image-"$release"_*.deb "$debs"/linux-headers-"$release"_*.deb \
               "$debs"/linux-headers-"$abi"-common_*.deb "$debs"/"$kbuild"_"$version"_"$host".deb; do
        dpkg-deb -x "$deb" "$root"
    done
    # The headers name their common half and the build tools by absolute paths under /usr; point
    # them into the unpacked tree instead.
    hdr="$root/usr/src/linux-headers-$release"
    sed -i "s|/usr/src/linux-headers-$abi-common|$root/usr/src/linux-headers-$abi-common|g" "$hdr/Makefile"
    for link in "$hdr"/scripts "$hdr"/tools/objtool "$root/usr/src/linux-headers-$abi-common"/scripts; do
        [ -L "$link" ] || continue
        target=$(readlink "$link")
        case "$target" in /*) ln -sfn "$root$target" "$link" ;; esac
    done
    touch "$root/.unpacked"
fi

case "$what" in
    headers) echo "$root/usr/src/linux-headers-$release" ;;
    image) echo "$root/boot/vmlinuz-$release" ;;
    modules) echo "$root/lib/modules/$release" ;;
    release) echo "$release" ;;
    root) echo "$root" ;;
esac
