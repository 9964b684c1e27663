#!/bin/sh
# The kernel board's checks, run on a machine that has the module (as root, debugfs mounted):
# what the trace comparison cannot show, then every run of `scenarios` against the preloaded
# board's trace of it.
#
# Usage: guest.sh EXPECTED_DIR SUITE_BIN
#   EXPECTED_DIR  <name>.trace for each scenario, made by the preloaded board (expected-traces.sh)
#   SUITE_BIN     the folder of the suite's programs; `boardsim` must be on PATH
# LOAD (default "modprobe bringup_sim") loads the module with the parameters given after it;
# UNLOAD (default "rmmod bringup_sim") takes it out. Ends with "guest: N passed, M failed".
here=$(cd "$(dirname "$0")" && pwd)
expected=$1 bin=$2
LOAD=${LOAD:-modprobe bringup_sim}
UNLOAD=${UNLOAD:-rmmod bringup_sim}
dbg=/sys/kernel/debug/bringup_sim
passed=0 failed=0

check() {
    if eval "$2"; then passed=$((passed + 1)); echo "ok - $1"
    else failed=$((failed + 1)); echo "not ok - $1"; fi
}

# Settings, refused at load.
check "a bad value fails the load" "! $LOAD audio_rate=fast 2>/dev/null"
check "an unknown profile fails the load" "! $LOAD profile=nosuch 2>/dev/null"

$LOAD profile=otg-2.60a audio_tone_hz=440.5
check "device nodes are root's alone" '[ "$(stat -c %a:%u /dev/qvaudio_out /dev/wifi_power)" = "$(printf "600:0\n600:0")" ]'
check "the version file" '[ "$(cat /sys/bus/logicmodule/drivers/dwc_otg/version)" = 2.60a ]'
check "a value the model refuses is an error" '! printf 2 > /sys/devices/lm0/peri_sleepm 2>/dev/null'
check "a value reads back as written" 'printf 1 > /sys/devices/lm0/peri_sleepm && [ "$(cat /sys/devices/lm0/peri_sleepm)" = 1 ]'
check "the power follows the PHY" '[ "$(cat $dbg/port0_powered)" = 0 ]'
check "a device shows only on a powered port" 'echo 1 > $dbg/port0_attached && grep -q "0x0" /sys/devices/lm0/busconnected &&
    printf B > /sys/devices/platform/usb_phy_control/index && printf on > /sys/devices/platform/usb_phy_control/por &&
    grep -q "0x0" /sys/devices/lm0/busconnected && printf A > /sys/devices/platform/usb_phy_control/index &&
    printf on > /sys/devices/platform/usb_phy_control/por && grep -q "0x1" /sys/devices/lm0/busconnected'
check "the module class keeps each module's power" 'printf usb1 > /sys/class/qvl_mod/mod_off && [ "$(cat $dbg/module)" = "usb1 off" ]'
check "a module name past the eighth is refused, not lost" 'for m in 2 3 4 5 6 7 8; do printf m$m > /sys/class/qvl_mod/mod_on; done &&
    ! printf m9 > /sys/class/qvl_mod/mod_on 2>/dev/null && [ "$(cat /sys/class/qvl_mod/mod_on)" = m8 ] && [ "$(wc -l < $dbg/module)" = 8 ]'
check "the Wi-Fi power after a request" '$bin/wlanpower 0 && [ "$(cat $dbg/wifi_power)" = 0 ]'
$UNLOAD

$LOAD usb_controller=0 usb_version=none usb_phy=iddq
check "a late controller is absent at first" '[ ! -e /sys/devices/lm0 ] && [ ! -e /sys/bus/logicmodule/drivers/dwc_otg ]'
check "a late controller registers" 'echo 1 > $dbg/controller && [ -e /sys/devices/lm1/peri_iddq ] && [ ! -e /sys/devices/lm1/peri_sleepm ] &&
    [ ! -e /sys/bus/logicmodule/drivers/dwc_otg/version ]'
check "audio faults change at run time" 'echo 2-x > $dbg/audio_fault_read_error 2>/dev/null; [ -z "$(cat $dbg/audio_fault_read_error)" ] &&
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
    (cd /tmp/runs/$name && timeout "${seconds:-30}" boardsim run --trace-only --trace /tmp/runs/$name.trace -- \
        $bin/$program > /dev/null 2>&1)
    $UNLOAD
    how=""
    [ "$lines" = all ] || how="--$lines"
    check "same trace: $name" "sh $here/same-trace.sh $how $expected/$name.trace /tmp/runs/$name.trace"
done < "$here/scenarios"

# What the capture holds: each 9600-byte half a run of the counter stream's words.
check "the capture is the counter stream" '[ -s /tmp/runs/pcm-counter/output.pcm ] &&
    od -An -v -tu4 /tmp/runs/pcm-counter/output.pcm | awk "{ for (i = 1; i <= NF; i++) {
        if (n++ % 2400 && \$i != last + 1) exit 1; last = \$i } }"'

echo "guest: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
