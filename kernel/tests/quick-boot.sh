#!/bin/sh
# The kernel board's quick test: builds the module for Debian's amd64 kernel, boots that kernel
# under qemu (no KVM needed) with a small initramfs (busybox, the module, the suite's programs
# and `boardsim`), and runs kernel/tests/guest.sh there against the traces the preloaded board
# leaves for the same runs. About a minute.
#
# Usage: kernel/tests/quick-boot.sh [BUILD]   (BUILD: the suite's build folder, default build/dev)
# Exit status 0 when every check passed. The console log is build/kernel/quick/console.log. A
# kernel oops ends the boot at once (oops=panic), failing the run, rather than leaving the checks
# to hang behind a lock the oops left held.
set -e
top=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$top/build/dev}" && pwd)
out=$top/build/kernel/quick
kdir=$("$top/kernel/fetch-kernel.sh" amd64)
image=$("$top/kernel/fetch-kernel.sh" amd64 image)
rm -rf "$out"
mkdir -p "$out/src" "$out/root"

# The module, built from a source folder laid out as the DKMS package lays it out.
"$top/kernel/layout.sh" "$out/src"
make -s -C "$out/src" KDIR="$kdir" > "$out/build.log" 2>&1 || { cat "$out/build.log"; exit 1; }

# The preloaded board's traces of the same runs.
"$top/kernel/tests/expected-traces.sh" "$build" "$out/root/expected"
rm -rf "$out/root/expected/boards"

# The initramfs: busybox, the programs with their libraries, the module and the checks.
root=$out/root
mkdir -p "$root/bin" "$root/sbin" "$root/usr/bin" "$root/usr/sbin" "$root/suite/bin" "$root/suite/boardsim" \
         "$root/proc" "$root/sys" "$root/dev" "$root/tmp" "$root/tests"
cp /bin/busybox "$root/bin/busybox"
cp "$out/src/bringup_sim.ko" "$root/"
cp "$top"/kernel/tests/guest.sh "$top"/kernel/tests/same-trace.sh "$top"/kernel/tests/scenarios \
    "$top"/tests/lib/testlib.sh "$root/tests/"
gcc -O2 -I"$top/include" -o "$root/tests/probe" "$top/kernel/tests/probe.c"
for p in wlanpower otgpower otgpoweriddq otgpowersave pcmcapture; do cp "$build/bin/$p" "$root/suite/bin/"; done
cp "$build/boardsim/boardsim" "$build/boardsim/libboardsim.so" "$root/suite/boardsim/"
for f in "$root"/suite/bin/* "$root"/suite/boardsim/*; do
    ldd "$f" | sed -n 's/.*=> \(\/[^ ]*\).*/\1/p; s/^[[:space:]]*\(\/[^ ]*\) .*/\1/p'
done | sort -u | while read -r lib; do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
done
cat > "$root/init" <<'INIT'
#!/bin/busybox sh
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t debugfs debugfs /sys/kernel/debug
mount -t tmpfs tmpfs /tmp
export PATH=/suite/boardsim:/bin:/sbin:/usr/bin:/usr/sbin
TESTLIB=/tests/testlib.sh LOAD="insmod /bringup_sim.ko" sh /tests/guest.sh /expected /suite/bin
echo "quick-boot: guest ended with $?"
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) > "$out/initrd.gz"

timeout 900 qemu-system-x86_64 -nographic -no-reboot -m 1G -smp 2 -kernel "$image" -initrd "$out/initrd.gz" \
    -append "console=ttyS0 quiet loglevel=3 oops=panic panic=-1" < /dev/null | tr -d '\r' | tee "$out/console.log" |
    grep -E '^(guest|quick-boot):' || true
grep -q '^quick-boot: guest ended with 0$' "$out/console.log"
