#!/bin/sh
# Makes a bootable arm64 image of the board: Debian 12's arm64 root (the one
# packaging/arm64-root-test.sh makes), Debian's arm64 kernel with a small initramfs, the kernel
# board module built for that kernel, the suite's arm64 packages and what the test of the booted
# system needs (systemd, udev, kmod, Xvfb, Mesa). Writes, in build/image/:
#   vmlinuz, initrd.img   the kernel and its initramfs, booted by qemu's -kernel and -initrd
#   disk.ext4             the root file system (made with mkfs.ext4 -d, no loop mount)
#   kernel-version        the kernel's release, e.g. 6.1.0-57-arm64
# Needs root, debootstrap, qemu-user's binfmt entry and e2fsprogs (make image installs them).
# Usage: packaging/vm/make-image.sh [root | disk] [arm64-root-folder]   (default build/arm64-root)
#   root  the arm64 root, then build/image/root with the kernel and the extra packages, each kept
#         and made again only when it is missing or when the kernel or the lists below change
#   disk  the module, the suite's packages and the guest's files put into build/image/root, and
#         the disk made of it; `make image` runs this step only when one of the files it is made
#         from changed (the Makefile lists them)
# Without a step, both. `rm -rf build/image` starts over.
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
here="$top/packaging/vm"
out="$top/build/image"
steps="root disk"
case "${1:-}" in root|disk) steps=$1; shift ;; esac
base=$(realpath -m "${1:-$top/build/arm64-root}")
root="$out/root"
# What the booted system needs besides the suite: systemd as PID 1, udev and kmod for the module,
# an X server and Mesa for the GPU checks, procps for the test's look at scheduling policies.
extras="systemd-sysv udev kmod xvfb xauth libegl-mesa0 libgl1-mesa-dri procps"
# The modules the initramfs needs to reach the root disk; the rest load from the root.
initramfs_modules="virtio_pci virtio_blk ext4"

step_start=$(date +%s)
step() { now=$(date +%s); echo "-- $1: $((now - step_start)) s"; step_start=$now; }
die() { echo "make-image: $*" >&2; exit 1; }
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    DEBIAN_FRONTEND=noninteractive "$@"; }
mounted=
cleanup() {
    for m in $mounted; do umount "$root/$m" 2>/dev/null || true; done
    rm -f "$root/usr/sbin/policy-rc.d"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
mount_root() {
    mount -t proc proc "$root/proc" && mounted="proc"
    mount --bind /dev "$root/dev" && mounted="dev $mounted"
    # Nothing installed in the image starts here.
    printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
    chmod 755 "$root/usr/sbin/policy-rc.d"
}

[ "$(id -u)" -eq 0 ] || die "needs root"
# A run killed outright leaves the host's /dev bound into the root: take it away before anything
# is removed there, and never remove across file systems.
for m in dev proc; do
    while mountpoint -q "$root/$m" 2>/dev/null; do umount "$root/$m" || die "$root/$m is still mounted"; done
done
debs=$(ls "$top"/out/packages/*_arm64.deb 2>/dev/null || true)
[ -n "$debs" ] || die "no arm64 packages in out/packages (make package PRESET=aarch64)"
mkdir -p "$out"

if [ "$steps" = disk ]; then
    # The disk step alone: the image root is there.
    [ -e "$out/root.stamp" ] || die "no image root in $root (make-image.sh root)"
    kver=$(cat "$out/kernel-version")
else
    # 1. The arm64 root, made (or brought up to date) by the arm64 package test.
    if [ ! -e "$base/etc/debian_version" ]; then
        "$top/packaging/arm64-root-test.sh" "$base" || die "the arm64 root could not be made in $base"
        step "arm64 root"
    fi

    # 2. The image's root: a copy of the arm64 root with the kernel and the extras. The kernel
    #    is the one kernel/fetch-kernel.sh fetches headers of, so that the module is built for it.
    #    root.stamp holds what the root was made with. It stays this script's stamp rather than a
    #    make dependency: the kernel's release is what the archive offers today, not a file. It
    #    is written only when the root is made again, and the disk, made after it, follows it.
    kver=$("$top/kernel/fetch-kernel.sh" arm64 release) || die "no arm64 kernel in the archive"
    key="$kver $extras | $initramfs_modules"
    if [ "$(cat "$out/root.stamp" 2>/dev/null)" != "$key" ]; then
        rm -rf --one-file-system "$root" "$out/root.stamp" "$out/disk.ext4"
        mkdir -p "$root"
        # Everything but what the arm64 package test leaves of its own.
        tar -C "$base" --exclude=./srv/packages --exclude=./proc/* --exclude=./dev/* -cf - . \
            | tar -C "$root" -xf -
        mount_root
        mkdir -p "$root/etc/initramfs-tools/conf.d"
        echo MODULES=list >"$root/etc/initramfs-tools/conf.d/board-image"
        printf '%s\n' $initramfs_modules >"$root/etc/initramfs-tools/modules"
        # The kernel's package is the one fetch-kernel.sh downloaded (it may come from an archive
        # the root does not list, such as the security updates); what it depends on comes from the
        # root's.
        kdebs="$("$top/kernel/fetch-kernel.sh" arm64 root)/../debs"
        kdeb=$(ls "$kdebs"/linux-image-"$kver"_*_arm64.deb | head -n 1)
        mkdir -p "$root/srv/kernel"
        cp "$kdeb" "$root/srv/kernel/"
        in_root apt-get update -qq
        in_root sh -c "apt-get install -y -qq --no-install-recommends /srv/kernel/*.deb $extras" \
            >"$out/apt.log" 2>&1 || { tail -20 "$out/apt.log"; die "apt-get install in the image failed"; }
        rm -rf "$root/srv/kernel"
        in_root apt-get clean
        echo "$key" >"$out/root.stamp"
        step "image root: kernel $kver and the extras"
    else
        echo "using the image root already in $root (kernel $kver)"
    fi
    echo "$kver" >"$out/kernel-version"
    [ "$steps" != root ] || exit 0
fi
[ -n "$mounted" ] || mount_root
# A disk step that fails leaves no disk behind, so that make does not take it as made.
rm -f "$out/disk.ext4"

# 3. The kernel board module, built for that kernel, and the suite's packages.
#    The module is built in a folder of its own laid out as its DKMS source (the protocol headers
#    in include/), so the source tree stays clean.
src="$out/module"
"$top/kernel/layout.sh" "$src"
kdir=$("$top/kernel/fetch-kernel.sh" arm64 headers)
make -C "$src" KDIR="$kdir" ARCH=arm64 CROSS_COMPILE=aarch64-linux-gnu- >"$out/module.log" 2>&1 \
    || { tail -20 "$out/module.log"; die "the kernel board module did not build"; }
mkdir -p "$root/lib/modules/$kver/extra"
cp "$src/bringup_sim.ko" "$root/lib/modules/$kver/extra/"
in_root depmod "$kver"
step "kernel board module"
rm -rf "$root/srv/packages"
mkdir -p "$root/srv/packages"
cp $debs "$root/srv/packages/"
in_root sh -c 'apt-get install -y -qq --no-install-recommends --reinstall /srv/packages/*.deb' \
    >"$out/apt.log" 2>&1 || { tail -20 "$out/apt.log"; die "the suite's packages did not install"; }
rm -rf "$root/srv/packages"
step "the suite's packages"

# 4. The guest's own set-up: root logs in on the serial console without a password, the root
#    disk is mounted read-write, and the test of the booted system is there to be asked for on
#    the kernel's command line (packaging/vm/vmtest.sh does).
echo board >"$root/etc/hostname"
echo '/dev/vda / ext4 rw,errors=remount-ro 0 1' >"$root/etc/fstab"
in_root passwd -dq root
install -m 755 "$here/guest-test.sh" "$root/usr/local/sbin/board-vmtest"
install -m 644 "$here/board-vmtest.service" "$root/etc/systemd/system/board-vmtest.service"
install -m 755 "$top/packaging/lava/board-setup.sh" "$root/usr/local/sbin/board-setup"
# The test library, where the guest's scripts take it from (TESTLIB).
mkdir -p "$root/usr/local/share/board-vmtest"
install -m 644 "$top/tests/lib/testlib.sh" "$root/usr/local/share/board-vmtest/testlib.sh"
if [ -d "$top/kernel/tests" ]; then
    rm -rf "$root/usr/local/share/board-vmtest/kernel-tests"
    cp -a "$top/kernel/tests" "$root/usr/local/share/board-vmtest/kernel-tests"
    aarch64-linux-gnu-gcc -O2 -I"$top/include" -o "$root/usr/local/share/board-vmtest/kernel-tests/probe" \
        "$top/kernel/tests/probe.c" || die "the kernel board's probe did not build"
fi
cp "$root/boot/vmlinuz-$kver" "$out/vmlinuz"
cp "$root/boot/initrd.img-$kver" "$out/initrd.img"
cleanup
mounted=

# 5. The disk.
size_mb=$(du -sm "$root" | cut -f1)
# 30% over du's count for ext4's metadata (inodes, journal), 1 GiB for what the guest writes.
size_mb=$((size_mb * 13 / 10 + 1024))
truncate -s "${size_mb}M" "$out/disk.ext4"
mkfs.ext4 -q -F -L board-root -d "$root" "$out/disk.ext4" || die "mkfs.ext4 failed"
step "disk.ext4 ($size_mb MiB)"
ls -l "$out/vmlinuz" "$out/initrd.img" "$out/disk.ext4"
