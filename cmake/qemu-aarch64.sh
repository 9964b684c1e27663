#!/bin/sh
# Runs an arm64 program on this host under qemu-user, the emulator pinned to the CPU it starts on.
# Under qemu-user a thread with a real-time policy at the top priority (pcmcapture's capture
# thread) can keep the emulator from making progress when its threads are spread over several
# CPUs; pinned to one CPU it runs. The program still asks the scheduler for what it asks on the
# board. Programs started from this one (directly, through the kernel's binfmt_misc handler)
# inherit the pinning.
# Usage: qemu-aarch64.sh <arm64 program> [args...]
#        qemu-aarch64.sh --pin <command> [args...]   (pin only: for a script that starts arm64 programs)
set -e
cpu=$(cut -d' ' -f39 /proc/$$/stat)
if [ "$1" = "--pin" ]; then
    shift
    exec taskset -c "$cpu" "$@"
fi
exec taskset -c "$cpu" qemu-aarch64-static "$@"
