#!/bin/sh
# The emulated board's hardware for a LAVA job on the board image, where it is installed as
# /usr/local/sbin/board-setup (packaging/vm/make-image.sh). Each step reports one test case
# through lava-test-case (an "ok:" or "FAILED:" line when run by hand) and fails when its case does.
#
#   board-setup load CASE [PARAMETER=VALUE...]
#       loads the kernel board module with the parameters, followed by the board's own settings
#       (each QEMU firmware file opt/bringup_sim/<parameter> holds a value of the module's
#       parameter of that name; given last, they win), the module loaded before taken out first,
#       and waits for udev to have made its nodes
#   board-setup xvfb CASE DISPLAY
#       starts Xvfb on DISPLAY (":7") for the GPU checks and leaves it running; its output goes
#       to /var/tmp/xvfb.log
TESTLIB=${TESTLIB:-/usr/local/share/board-vmtest/testlib.sh}
TESTLIB_XLOG=/var/tmp/xvfb.log
. "$TESTLIB"
module=bringup_sim

# result CASE pass|fail: the step's test case; the step's status follows it.
result() {
    if command -v lava-test-case >/dev/null; then lava-test-case "$1" --result "$2"
    elif [ "$2" = pass ]; then ok "$1"
    else fail "$1"; fi
    [ "$2" = pass ]
}

# The board's own settings, from its device's firmware files.
board_settings() {
    modprobe qemu_fw_cfg 2>/dev/null
    for f in /sys/firmware/qemu_fw_cfg/by_name/opt/$module/*/raw; do
        [ -r "$f" ] || continue
        n=${f%/raw}
        printf ' %s=%s' "${n##*/}" "$(cat "$f")"
    done
}

[ $# -ge 2 ] || { echo "usage: board-setup load CASE [PARAMETER=VALUE...] | xvfb CASE DISPLAY" >&2; exit 2; }
step=$1 case=$2
shift 2
case "$step" in
load)
    modprobe -r $module 2>/dev/null
    settings="$* $(board_settings)"
    echo "kernel board settings: $settings"
    # shellcheck disable=SC2086 # one word a parameter
    if modprobe $module $settings && udevadm settle --timeout=30; then result "$case" pass
    else result "$case" fail; fi
    ;;
xvfb)
    if xserver_start "$1"; then result "$case" pass
    else cat "$TESTLIB_XLOG"; result "$case" fail; fi
    ;;
*)
    echo "board-setup: no step $step" >&2
    exit 2
    ;;
esac
