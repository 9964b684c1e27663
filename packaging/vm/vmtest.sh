#!/bin/sh
# Boots the board image (packaging/vm/make-image.sh) under qemu-system-aarch64 and runs the test
# of the booted system in it (board-vmtest.service, packaging/vm/guest-test.sh). The disk is used
# through a snapshot, so the image stays as it was made. Prints the guest's verdict lines, the time
# from power-on to the verdict, and fails when a check failed, when the guest gave no verdict, or
# when it did not power off within VMTEST_TIMEOUT seconds (default 1500; it is then killed).
# Writes build/vmtest/console.log (the serial console) and, through a 9p share, build/vmtest/results/
# (the guest's log and bringup-check's output folders).
# Usage: packaging/vm/vmtest.sh [group,...]   (only those groups of checks: module, check, failing,
#                                             units, capture, kernel-tests)
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
image="$top/build/image"
out="$top/build/vmtest"
limit=${VMTEST_TIMEOUT:-1500}
# The host's build (make build): its judge for the captures, its programs and preloaded board for
# the traces the kernel board's own checks compare with.
build=$top/build/dev
PCMJUDGE=$build/judge/pcmjudge
for f in vmlinuz initrd.img disk.ext4; do
    [ -e "$image/$f" ] || { echo "vmtest: no $image/$f (make image)" >&2; exit 1; }
done
rm -rf "$out"
mkdir -p "$out/results"
console="$out/console.log"
cmdline="root=/dev/vda rw console=ttyAMA0 systemd.wants=board-vmtest.service board.vmtest"
[ $# -eq 0 ] || cmdline="$cmdline board.vmtest_only=$1"

if [ -f "$top/kernel/tests/expected-traces.sh" ]; then
    "$top/kernel/tests/expected-traces.sh" "$build" "$out/results/kernel-tests/expected" >"$out/expected.log" 2>&1 \
        || { echo "vmtest: the preloaded board's traces were not made:" >&2; cat "$out/expected.log" >&2; }
fi

started=$(date +%s)
# -snapshot: the guest's writes go to a temporary file, never to disk.ext4.
# timeout's -k: a guest that ignores SIGTERM is killed 10 s later.
set +e
timeout -k 10 "$limit" qemu-system-aarch64 -M virt -cpu cortex-a57 -smp 2 -m 2G \
    -nographic -no-reboot -nic none \
    -kernel "$image/vmlinuz" -initrd "$image/initrd.img" -append "$cmdline" \
    -drive "file=$image/disk.ext4,format=raw,if=none,id=root" -device virtio-blk-pci,drive=root -snapshot \
    -virtfs "local,path=$out/results,mount_tag=results,security_model=none,id=results" \
    </dev/null 2>"$out/qemu.err" | tr -d '\r' | tee "$console" | sed -u -n 's/^.*board-vmtest\[[0-9]*\]: vmtest: //p'
set -e
ended=$(date +%s)
# The exit status of the pipe is tee's; timeout's own is read from what it left.
status=0 end="power-off"
if ! grep -q 'reboot: Power down' "$console"; then
    echo "vmtest: the guest did not power off within $limit s; it was stopped" >&2
    status=1 end="being stopped"
fi
[ -s "$out/qemu.err" ] && sed 's/^/qemu: /' "$out/qemu.err" >&2
guest() { sed -n "s/^.*board-vmtest\[[0-9]*\]: vmtest: $1\$/\1/p" "$console" | tail -n 1; }
summary=$(guest '\([0-9]* passed, [0-9]* failed, [0-9]* skipped\)')
ready_at=$(guest 'booted: .* \([0-9.]*\) s after the kernel started')
verdict_at=$(guest 'checks took .* the verdict came \([0-9.]*\) s after the kernel started')
echo "vmtest: systemd up ${ready_at:-?} s and the verdict ${verdict_at:-?} s after the kernel started;" \
    "$((ended - started)) s from power-on to $end"
if [ -z "$summary" ]; then
    echo "vmtest: the guest reported no verdict (the serial console is in $console)" >&2
    exit 1
fi
# The captures of the good board (bringup-check's, traced, and the one under SCHED_RR), judged here
# against the counter stream the guest's module played: every block an intact slice of it,
# contiguous with the one before (a real board does not say which stream it plays, so bringup-check
# cannot judge that there).
passed=$(echo "$summary" | cut -d' ' -f1)
failed=$(echo "$summary" | cut -d' ' -f3)
skipped=$(echo "$summary" | cut -d' ' -f5)
for audio in good/audio capture; do
    dir="$out/results/$audio"
    [ -e "$dir/output.pcm" ] || continue
    trace=
    [ ! -e "$dir/pcmcapture.devices.trace" ] || trace="--trace $dir/pcmcapture.devices.trace"
    [ -x "$PCMJUDGE" ] || echo "no judge: $PCMJUDGE is not there (make build)" >"$out/pcmjudge.out"
    if [ -x "$PCMJUDGE" ] && "$PCMJUDGE" "$dir/output.pcm" --log "$dir/pcmcapture.out" --content counter \
            $trace >"$out/pcmjudge.out" 2>&1; then
        passed=$((passed + 1))
        echo "vmtest: ok: $audio/output.pcm is intact: $(sed -n 's/^content: //p' "$out/pcmjudge.out")"
    else
        failed=$((failed + 1))
        echo "vmtest: FAILED: $audio/output.pcm, judged against the counter stream:"
        sed 's/^/vmtest:   | /' "$out/pcmjudge.out"
    fi
done
summary="$passed passed, $failed failed, $skipped skipped"
echo "vmtest: $summary"
[ "$failed" -eq 0 ] || status=1
exit $status
