#!/bin/sh
# The kernel board's checks, run on a machine that has the module (as root, debugfs mounted):
# what the trace comparison cannot show, then every run of `scenarios` against the preloaded
# board's trace of it.
#
# Usage: guest.sh EXPECTED_DIR SUITE_BIN
#   EXPECTED_DIR  <name>.trace for each scenario, made by the preloaded board (expected-traces.sh)
#   SUITE_BIN     the folder of the suite's programs; `boardsim` must be on PATH
# LOAD (default "modprobe bringup_sim") loads the module with the parameters given after it;
# UNLOAD (default "rmmod bringup_sim") takes it out. PROBE (default: probe beside this script,
# built from probe.c) asks what a shell cannot. TESTLIB (default: the tree's tests/lib/testlib.sh)
# names the test library where the tree is not there (the image, the quick boot). Prints
# "guest: ok: ..." or "guest: FAILED: ..." per check, and ends with "guest: N passed, M failed,
# K skipped".
here=$(cd "$(dirname "$0")" && pwd)
expected=$1 bin=$2
LOAD=${LOAD:-modprobe bringup_sim}
UNLOAD=${UNLOAD:-rmmod bringup_sim}
PROBE=${PROBE:-$here/probe}
dbg=/sys/kernel/debug/bringup_sim
lm0=/sys/devices/lm0 mods=/sys/class/qvl_mod
EINVAL=22 ESPIPE=29
TESTLIB_NAME=guest
. "${TESTLIB:-$here/../../tests/lib/testlib.sh}"

# What the probe wrote or answered, compared with what is wanted.
probe_is() {
    want=$1
    shift
    [ "$("$PROBE" "$@" 2>&1)" = "$want" ]
}

# Whether loading with these parameters fails (the module is taken out again when it loaded).
refused() {
    if $LOAD "$@" 2>/dev/null; then $UNLOAD; return 1; fi
}

# Settings, refused at load, whole however long.
check "a bad value fails the load" eval "refused audio_rate=fast"
check "an unknown profile fails the load" eval "refused profile=nosuch"
ones=1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1
check "a long list is checked to its end" eval "refused wifi_refuse=$ones,9"
check "a size the request cannot answer fails the load" eval "refused audio_fault_size=4294967295 &&
    refused audio_fault_size=-512 && refused audio_fault_size=2147483648"
calls=10000000-20000000,30000000-40000000,50000000-60000000,70000000-80000000
$LOAD usb_port0_missing=gotgctl,busconnected,pullup,peri_sleepm,peri_iddq,peri_otg_disable \
    audio_fault_read_error=$calls
check "a long value is taken whole" eval '[ "$(cat $dbg/audio_fault_read_error)" = "$calls" ] && [ -d $lm0 ] &&
    [ -z "$(ls $lm0 | grep -x -e gotgctl -e busconnected -e pullup -e peri_sleepm -e peri_iddq -e peri_otg_disable)" ]'
$UNLOAD

$LOAD profile=otg-2.60a audio_tone_hz=440.5
check "device nodes are root's alone" eval '[ "$(stat -c %a:%u /dev/qvaudio_out /dev/wifi_power)" = "$(printf "600:0\n600:0")" ]'
check "the version file" eval '[ "$(cat /sys/bus/logicmodule/drivers/dwc_otg/version)" = 2.60a ]'
check "a value reads back as written" eval 'printf 1 > /sys/devices/lm0/peri_sleepm && [ "$(cat /sys/devices/lm0/peri_sleepm)" = 1 ]'
check "the power follows the PHY" eval '[ "$(cat $dbg/port0_powered)" = 0 ]'
check "a device shows only on a powered port" eval 'echo 1 > $dbg/port0_attached && grep -q "0x0" /sys/devices/lm0/busconnected &&
    printf B > /sys/devices/platform/usb_phy_control/index && printf on > /sys/devices/platform/usb_phy_control/por &&
    grep -q "0x0" /sys/devices/lm0/busconnected && printf A > /sys/devices/platform/usb_phy_control/index &&
    printf on > /sys/devices/platform/usb_phy_control/por && grep -q "0x1" /sys/devices/lm0/busconnected'
check "the module class keeps each module's power" eval 'printf usb1 > /sys/class/qvl_mod/mod_off && [ "$(cat $dbg/module)" = "usb1 off" ]'
check "a module name past the eighth is refused, not lost" eval 'for m in 2 3 4 5 6 7 8; do printf m$m > /sys/class/qvl_mod/mod_on; done &&
    ! printf m9 > /sys/class/qvl_mod/mod_on 2>/dev/null && [ "$(cat /sys/class/qvl_mod/mod_on)" = m8 ] && [ "$(wc -l < $dbg/module)" = 8 ]'
check "the Wi-Fi power after a request" eval '$bin/wlanpower 0 && [ "$(cat $dbg/wifi_power)" = 0 ]'
check "a refused value fails with EINVAL and changes nothing" eval 'probe_is $EINVAL write $lm0/peri_sleepm 2 &&
    probe_is $EINVAL write $lm0/pullup "on\000garbage" && probe_is $EINVAL write $lm0/peri_sleepm "0\000" &&
    probe_is $EINVAL write $dbg/port0_attached "1\000x" && probe_is $EINVAL write $dbg/audio_fault_read_error "2-\000x" &&
    probe_is $EINVAL write $dbg/audio_fault_read_error "2 5" &&
    probe_is $EINVAL write $dbg/audio_fault_size -512 && probe_is $EINVAL write $dbg/audio_fault_size 2147483648 &&
    probe_is $EINVAL write $dbg/port0_attached 2 &&
    [ "$(cat $lm0/peri_sleepm)" = 1 ] && [ "$(cat $dbg/port0_attached)" = 1 ] && [ -z "$(cat $dbg/audio_fault_size)" ]'
$UNLOAD

$LOAD
check "module names: 31 bytes taken, 32 refused, then the next name taken" eval '
    probe_is 0 write $mods/mod_on abcdefghijklmnopqrstuvwxyz01234 &&
    probe_is $EINVAL write $mods/mod_on abcdefghijklmnopqrstuvwxyz012345 && probe_is 0 write $mods/mod_off next &&
    [ "$(cat $dbg/module)" = "$(printf "abcdefghijklmnopqrstuvwxyz01234 on\nnext off")" ]'
check "module names: bytes from 0x80 up taken, blanks, DEL and NUL refused" eval 'probe_is 0 write $mods/mod_on "\303\251t\303\251" &&
    probe_is $EINVAL write $mods/mod_on "a b" && probe_is $EINVAL write $mods/mod_on "a\177" &&
    probe_is $EINVAL write $mods/mod_on "a\000b" && probe_is 0 write $mods/mod_on "\377x"'
check "the audio node is a stream: no pread, no lseek" eval 'probe_is "$ESPIPE $ESPIPE" offsets'
check "a size fault answers -1 with its errno, or the size" eval 'echo -5 > $dbg/audio_fault_size && probe_is "-1 5" size &&
    echo 2147483647 > $dbg/audio_fault_size && probe_is "2147483647 0" size && echo > $dbg/audio_fault_size &&
    probe_is "65536 0" size'
$UNLOAD

$LOAD audio_ring=1000 audio_rate=1
# (a hardware that barely moves, so no overrun moves the read position meanwhile)
check "the read position is set from the whole argument" eval 'probe_is "0 0 5" setreadpos 5 &&
    probe_is "-1 $EINVAL 3" setreadpos 0x100000005 && probe_is "-1 $EINVAL 3" setreadpos 0xffffffff00000010 &&
    probe_is "-1 $EINVAL 3" setreadpos 1000'
check "every read stops at the ring's end and moves the read position by what it read" eval 'probe_is ok walk 40 300 &&
    probe_is ok walk 10 1000 && probe_is ok walk 10 999'
$UNLOAD
$LOAD audio_ring=2147483647
check "a process waiting behind a long read can be killed" eval 'probe_is killed killable 0x10000000'
$UNLOAD

$LOAD usb_controller=0 usb_version=none usb_phy=iddq
check "a late controller is absent at first" eval '[ ! -e /sys/devices/lm0 ] && [ ! -e /sys/bus/logicmodule/drivers/dwc_otg ]'
check "a late controller registers" eval 'echo 1 > $dbg/controller && [ -e /sys/devices/lm1/peri_iddq ] && [ ! -e /sys/devices/lm1/peri_sleepm ] &&
    [ ! -e /sys/bus/logicmodule/drivers/dwc_otg/version ]'
check "audio faults change at run time" eval 'echo 2-x > $dbg/audio_fault_read_error 2>/dev/null; [ -z "$(cat $dbg/audio_fault_read_error)" ] &&
    echo 2- > $dbg/audio_fault_read_error && [ "$(cat $dbg/audio_fault_read_error)" = 2- ]'
$UNLOAD

# The same runs as on the preloaded board.
mkdir -p /tmp/runs
while IFS='|' read -r name profile settings seconds lines program; do
    case "$name" in ''|'#'*) continue ;; esac
    params="profile=$profile"
    for s in $settings; do params="$params $(echo "${s%%=*}" | tr . _)=${s#*=}"; done
    $LOAD $params
    rm -rf /tmp/runs/$name /tmp/runs/$name.trace
    mkdir /tmp/runs/$name
    case "$program" in @probe*) run="$PROBE${program#@probe}" ;; *) run="$bin/$program" ;; esac
    (cd /tmp/runs/$name && timeout "${seconds:-30}" boardsim run --trace-only --trace /tmp/runs/$name.trace -- \
        $run > /dev/null 2>&1)
    $UNLOAD
    how=""
    [ "$lines" = all ] || how="--$lines"
    check "same trace: $name" eval "sh $here/same-trace.sh $how $expected/$name.trace /tmp/runs/$name.trace"
done < "$here/scenarios"

# What the capture holds: each 9600-byte half a run of the counter stream's words.
check "the capture is the counter stream" eval '[ -s /tmp/runs/pcm-counter/output.pcm ] &&
    od -An -v -tu4 /tmp/runs/pcm-counter/output.pcm | awk "{ for (i = 1; i <= NF; i++) {
        if (n++ % 2400 && \$i != last + 1) exit 1; last = \$i } }"'

summary
