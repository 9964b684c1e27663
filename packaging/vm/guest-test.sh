#!/bin/sh
# The test of the booted board image, run inside it by board-vmtest.service: the kernel board
# module loaded with good and failing settings, bringup-check on the real device nodes, the power
# daemons under their systemd units, the scheduling of pcmcapture's capture thread, and the
# module's own checks when the image carries them. One line per check, then "N passed, M failed,
# K skipped"; bringup-check's output folders and the log go to the results share when there is one.
# Settings (kernel command line): board.vmtest_only=NAME,... runs only the named groups (check,
# failing, units, capture, kernel-tests) after the module's.
set -u
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export PATH
module=bringup_sim
debugfs=/sys/kernel/debug/$module
# The good kernel board: the counter stream lets the judge prove every block of a capture, and a
# 1 MiB ring lasts more than five seconds, so an emulated CPU that stalls does not overrun it.
good="audio_content=counter audio_ring=1048576"
# The failing one: a controller version no daemon drives and an audio driver whose hardware
# position query always fails (the same board as boardsim's profile otg-2.20a below).
failing="usb_version=2.20a audio_fault_hwpos_fail=1-"
failing_sim="--profile otg-2.20a audio.fault.hwpos_fail=1-"
daemons="otgpower otgpoweriddq otgpowersave"

# Everything is written on the guest's own disk and copied to the share at the end: the programs'
# traces, written line by line through 9p, would slow them down by tenths of a second per call.
results=/var/tmp/board-vmtest
share=/run/board-vmtest
rm -rf "$results"
mkdir -p "$results" "$share"
modprobe 9pnet_virtio 2>/dev/null && mount -t 9p -o trans=virtio,version=9p2000.L results "$share" 2>/dev/null \
    || share=
log="$results/vmtest.log"
: >"$log"
uptime_s() { cut -d' ' -f1 /proc/uptime; }
started=$(uptime_s)
# The test library, beside the kernel board's checks in the image (packaging/vm/make-image.sh);
# those checks take it from TESTLIB too. Each line goes to the console as "vmtest: ..." (what
# packaging/vm/vmtest.sh picks out) and to the log, with the time its check took.
TESTLIB=${TESTLIB:-/usr/local/share/board-vmtest/testlib.sh}
export TESTLIB
TESTLIB_NAME=vmtest TESTLIB_LOG=$log TESTLIB_CLOCK=uptime_s TESTLIB_TMP=$results TESTLIB_XLOG=$results/xvfb.log
. "$TESTLIB"
wanted() {
    only=$(sed -n 's/.*board\.vmtest_only=\([^ ]*\).*/\1/p' /proc/cmdline)
    [ -z "$only" ] && return 0
    case ",$only," in *",$1,"*) return 0 ;; esac
    return 1
}
say "booted: systemd reached multi-user.target $(uptime_s) s after the kernel started"

# Loads the kernel board module with the given parameters, the earlier one removed first, and
# waits for udev to have made its nodes.
load_board() {
    modprobe -r $module 2>/dev/null
    modprobe $module "$@" >"$results/modprobe.out" 2>&1 || return 1
    udevadm settle --timeout=30
}
have_module() { modinfo $module >/dev/null 2>&1; }
# Polls a condition once every half second for up to $1 seconds.
wait_for() {
    limit=$1; shift
    tries=$((limit * 2))
    while [ $tries -gt 0 ]; do
        "$@" && return 0
        sleep 0.5
        tries=$((tries - 1))
    done
    return 1
}

# ---- The module and its nodes. The table is the kernel board's own: path, c (a character device)
#      or f (a file), mode.
module_checks() {
    if ! have_module; then skip "module: no $module module in this image"; return 1; fi
    if load_board $good; then ok "module: $module loads ($good)"; else
        fail "module: $module does not load"; detail "$results/modprobe.out"; return 1; fi
    bad=""
    while read -r path kind mode; do
        if [ ! -e "$path" ]; then bad="$bad; $path is missing"; continue; fi
        test "-$kind" "$path" || bad="$bad; $path is not a $(test "$kind" = c && echo "character device" || echo "file")"
        got=$(stat -c %a "$path")
        [ "$got" = "$mode" ] || bad="$bad; $path has mode $got, not $mode"
    done <<EOF
/dev/qvaudio_out c 600
/dev/wifi_power c 600
/sys/bus/logicmodule/drivers/dwc_otg/version f 444
/sys/devices/lm0/gotgctl f 444
/sys/devices/lm0/busconnected f 444
/sys/devices/lm0/pullup f 644
/sys/devices/lm0/peri_sleepm f 644
/sys/devices/lm0/peri_iddq f 644
/sys/devices/lm0/peri_otg_disable f 644
/sys/devices/lm1/gotgctl f 444
/sys/devices/lm1/busconnected f 444
/sys/devices/lm1/pullup f 644
/sys/devices/lm1/peri_sleepm f 644
/sys/devices/lm1/peri_iddq f 644
/sys/devices/lm1/peri_otg_disable f 644
/sys/devices/platform/usb_phy_control/index f 644
/sys/devices/platform/usb_phy_control/por f 644
/sys/devices/platform/usb_phy_control/otgdisable f 644
/sys/class/qvl_mod/mod_on f 644
/sys/class/qvl_mod/mod_off f 644
$debugfs/port0_attached f 644
$debugfs/port1_attached f 644
$debugfs/port0_powered f 444
$debugfs/port1_powered f 444
$debugfs/wifi_power f 444
$debugfs/controller f 644
EOF
    if [ -z "$bad" ]; then ok "module: every device node and attribute is there with its mode"
    else fail "module: nodes and attributes${bad}"; fi
}

# ---- bringup-check on the good kernel board: every check, the GPU ones on Xvfb and Mesa.
# Runs bringup-check with a time limit: a program stuck in the kernel board (one that cannot be
# killed) must not hold up the rest. When it overruns, the kernel log lists the blocked processes.
bringup_check() {
    out=$1; shift
    timeout -k 10 600 bringup-check "$@" >"$out" 2>&1
    rc=$?
    if [ "$rc" -ge 124 ]; then
        echo "bringup-check did not end within 600 s (exit status $rc)" >>"$out"
        echo w >/proc/sysrq-trigger
    fi
    return $rc
}
# Prints the reason bringup-check gave for a check (its terminal line: "VERDICT  <name>  why").
reason_of() { sed -n "s/^[A-Z]*  $1  *//p" "$2" | head -n 1; }

bringup_good() {
    load_board $good || { fail "bringup-check: the good board's module did not load"; return; }
    if ! xserver_start; then fail "bringup-check: Xvfb did not start"; detail "$results/xvfb.log"; return; fi
    # The kernel board logs each overrun of its ring (rate-limited) rather than tracing it.
    overruns_before=$(dmesg | grep -c "$module: .* overrun ")
    DISPLAY=$TESTLIB_DISPLAY bringup_check "$results/good.out" --switch --out "$results/good"
    rc=$?
    overruns=$(($(dmesg | grep -c "$module: .* overrun ") - overruns_before))
    xserver_stop
    total=$(grep -c . "$results/good/verdicts.txt" 2>/dev/null)
    # "<name> <verdict> [<figure> <units>]" a line: the verdict is the second field.
    notpass=$(awk '$2 != "pass"' "$results/good/verdicts.txt" 2>/dev/null | grep -c .)
    # Every check that bringup-check makes with --switch, as its --list names them.
    listed=$(bringup-check --list --switch 2>/dev/null | grep -c .)
    total=${total:-0} notpass=${notpass:-0} listed=${listed:-0}
    if [ "$rc" -eq 0 ] && [ "$listed" -gt 0 ] && [ "$total" -eq "$listed" ] && [ "$notpass" -eq 0 ]; then
        ok "bringup-check --switch passes all $total checks on the good kernel board"
    else
        fail "bringup-check --switch on the good kernel board: exit status $rc, $notpass of $total checks not passed ($listed listed)"
        detail "$results/good.out"
    fi
    say "  audio.capture: $(reason_of audio.capture "$results/good.out"); overruns of the ring in the kernel log: $overruns"
}

# ---- The failing kernel board against the same board on the preloaded library: the same two
#      checks fail, for the same reasons.
bringup_failing() {
    load_board $failing || { fail "failing board: the module did not load with $failing"; return; }
    bringup_check "$results/failing.out" --switch --only audio,usb --out "$results/failing"
    rc=$?
    boardsim create /tmp/failing-sim $failing_sim >/dev/null 2>&1
    bringup_check "$results/failing-sim.out" --sim /tmp/failing-sim --only audio,usb --out "$results/failing-sim"
    for c in audio.capture usb.controller; do
        verdict=$(awk -v c="$c" '$1 == c { print $2 }' "$results/failing/verdicts.txt" 2>/dev/null)
        why=$(reason_of $c "$results/failing.out")
        # Figures (seconds, counts) may differ between the two boards, and so may what an emulated
        # CPU's delays add after the first clause (overruns of a ring); the words of the first may not.
        sim_why=$(reason_of $c "$results/failing-sim.out")
        if [ "$rc" -eq 1 ] && [ "$verdict" = fail ] && [ -n "$why" ] &&
           [ "$(echo "$why" | cut -d';' -f1 | tr -d '0-9.')" = "$(echo "$sim_why" | cut -d';' -f1 | tr -d '0-9.')" ]; then
            ok "failing board: $c fails: $why"
        else
            fail "failing board: $c is \"${verdict:-missing}\" (exit status $rc): \"$why\"; on the preloaded board: \"$sim_why\""
        fi
    done
}

# ---- The daemons under their units.
unit_prop() { systemctl show -p "$2" --value "$1.service"; }
active() { [ "$(unit_prop "$1" ActiveState)" = active ]; }
inactive() { s=$(unit_prop "$1" ActiveState); [ "$s" = inactive ] || [ "$s" = failed ]; }
# Samples both ports' power for $1 seconds: prints the values each showed, e.g. "01 1".
sample_power() {
    end=$(($(date +%s) + $1)); seen0="" seen1=""
    while [ "$(date +%s)" -lt "$end" ]; do
        v=$(cat "$debugfs/port0_powered" 2>/dev/null)
        case "$seen0" in *"$v"*) ;; *) seen0="$seen0$v" ;; esac
        v=$(cat "$debugfs/port1_powered" 2>/dev/null)
        case "$seen1" in *"$v"*) ;; *) seen1="$seen1$v" ;; esac
        sleep 0.1
    done
    echo "${seen0:--} ${seen1:--}"
}
restarted_from() { p=$(unit_prop "$1" MainPID); [ "$p" != 0 ] && [ "$p" != "$2" ] && active "$1"; }

unit_checks() {
    load_board $good || { fail "units: the good board's module did not load"; return; }
    restart_s=$(($(unit_prop otgpower RestartUSec | sed -n 's/^\([0-9]*\)s$/\1/p')))
    previous=
    for d in $daemons; do
        systemctl start "$d.service"
        if ! wait_for 15 active "$d"; then
            fail "$d.service: not active after start ($(unit_prop "$d" ActiveState), status $(unit_prop "$d" ExecMainStatus))"
            journalctl -u "$d" -q --no-pager >"$results/$d.journal" 2>&1; detail "$results/$d.journal"
            continue
        fi
        if [ -n "$previous" ]; then
            if wait_for 10 inactive "$previous"; then ok "$d.service: starting it stopped $previous.service"
            else fail "$d.service: $previous.service is still $(unit_prop "$previous" ActiveState) after it started"; fi
        fi
        # Which ports it switches, seen through the board's own record of power.
        seen=$(sample_power 6); p0=${seen% *} p1=${seen#* }
        port=
        case "$p1" in *0*1*|*1*0*) port=1 ;; esac
        case "$p0" in *0*1*|*1*0*) port=0 ;; esac
        if [ -n "$port" ]; then ok "$d.service: switches port power in its sandbox (port 0 saw '$p0', port 1 '$p1')"
        else fail "$d.service: no port's power changed in 6 s (port 0 saw '$p0', port 1 '$p1')"; fi
        if [ -n "$port" ]; then
            echo 1 >"$debugfs/port${port}_attached"
            sleep 4
            seen=$(sample_power 5)
            [ "$port" = 0 ] && held=${seen% *} || held=${seen#* }
            echo 0 >"$debugfs/port${port}_attached"
            if [ "$held" = 1 ]; then ok "$d.service: a device attached to port $port is noticed and kept powered"
            else fail "$d.service: port $port with a device attached was powered '$held' over 5 s, not '1'"; fi
        fi
        lines=$(journalctl -u "$d.service" -q --no-pager -o cat 2>/dev/null | grep -c .)
        if [ "$lines" -gt 0 ]; then ok "$d.service: its $lines lines are in the journal"
        else fail "$d.service: nothing of it in the journal"; fi
        pid=$(unit_prop "$d" MainPID)
        kill -KILL "$pid"
        t0=$(uptime_s)
        if wait_for $((restart_s + 15)) restarted_from "$d" "$pid"; then
            back=$(awk -v a="$t0" -v b="$(uptime_s)" 'BEGIN { printf "%.1f", b - a }')
            ok "$d.service: killed with SIGKILL, back in $back s (RestartSec ${restart_s} s)"
        else
            fail "$d.service: killed with SIGKILL, not back within $((restart_s + 15)) s ($(unit_prop "$d" ActiveState))"
        fi
        previous=$d
    done
    systemctl stop $(for d in $daemons; do echo "$d.service"; done)

    # A controller no daemon drives: the unit ends with status 255 and stays down.
    load_board usb_version=2.20a || { fail "units: the module did not load with usb_version=2.20a"; return; }
    systemctl reset-failed otgpower.service 2>/dev/null
    # systemd unloads an inactive unit that nothing refers to, and its exit status with it: a
    # transient unit that wants otgpower.service starts it and keeps it loaded.
    systemd-run --quiet --unit=board-vmtest-hold --property=Wants=otgpower.service sleep 600
    exited() { [ "$(unit_prop otgpower ExecMainCode)" != 0 ]; }
    wait_for 15 exited
    sleep $((restart_s + 3))
    state=$(unit_prop otgpower ActiveState) status=$(unit_prop otgpower ExecMainStatus)
    restarts=$(unit_prop otgpower NRestarts)
    if [ "$state" = inactive ] && [ "$status" = 255 ] && [ "$restarts" -eq 0 ]; then
        ok "otgpower.service on a 2.20a controller: ends with status 255 and is not restarted"
    else
        fail "otgpower.service on a 2.20a controller: $state, status $status, restarted $restarts times"
        { cat /sys/bus/logicmodule/drivers/dwc_otg/version; systemctl status otgpower.service; } \
            >"$results/otgpower-2.20a.txt" 2>&1
        detail "$results/otgpower-2.20a.txt"
    fi
    systemctl stop board-vmtest-hold.service

    # A controller that appears after boot starts the enabled unit.
    wanted_by=$(systemctl cat otgpower.service 2>/dev/null | sed -n 's/^WantedBy=//p' | paste -sd' ')
    case "$wanted_by" in
        *.device*) ;;
        *) skip "otgpower.service is wanted only by ${wanted_by:-nothing}: nothing starts it when the controller appears"
           return ;;
    esac
    load_board usb_controller=0 || { fail "units: the module did not load with usb_controller=0"; return; }
    systemctl enable otgpower.service 2>"$results/enable.err"
    sleep 3
    if active otgpower; then
        fail "otgpower.service started before the controller appeared"
    else
        echo 1 >"$debugfs/controller"
        if wait_for 30 active otgpower; then ok "otgpower.service starts when the controller appears"
        else fail "otgpower.service is $(unit_prop otgpower ActiveState) 30 s after the controller appeared (WantedBy=$wanted_by)"; fi
    fi
    systemctl disable --now otgpower.service 2>/dev/null
}

# ---- pcmcapture on the real driver, started under SCHED_RR at priority 10: its capture thread asks
#      for SCHED_RR at the highest priority in its attributes but leaves the C library's default of
#      inheriting its creator's scheduling, so it runs as its creator does, at 10.
capture_checks() {
    load_board $good || { fail "capture: the module did not load"; return; }
    mkdir -p "$results/capture"
    (cd "$results/capture" && exec chrt --rr 10 pcmcapture >pcmcapture.out 2>pcmcapture.err) &
    pid=$!
    # The policy and priority of each of its threads, once there are two.
    threads=
    two_threads() {
        [ "$(ls /proc/$pid/task 2>/dev/null | wc -l)" -ge 2 ] || return 1
        threads=$(for t in /proc/$pid/task/*; do chrt -p "${t##*/}"; done 2>/dev/null \
            | sed -n 's/.*scheduling policy: //p; s/.*scheduling priority: //p' | paste -d' ' - - | tr '\n' ',')
    }
    wait_for 15 two_threads
    wait "$pid"
    rc=$?
    bytes=$(stat -c %s "$results/capture/output.pcm" 2>/dev/null || echo 0)
    if [ "$threads" = "SCHED_RR 10,SCHED_RR 10," ] && [ "$rc" -eq 0 ]; then
        ok "pcmcapture: its capture thread runs as its creator, SCHED_RR at 10 (threads: $threads); $bytes bytes captured"
    else
        fail "pcmcapture under SCHED_RR at 10: threads '${threads}', exit status $rc, $bytes bytes captured"
    fi
}

# ---- The kernel board's own checks (kernel/tests/guest.sh), against the traces the preloaded
#      board left for the same runs (made on the host by kernel/tests/expected-traces.sh and passed
#      through the share).
kernel_tests() {
    dir=/usr/local/share/board-vmtest/kernel-tests
    expected="$share/kernel-tests/expected"
    if [ ! -f "$dir/guest.sh" ]; then skip "the kernel board's own checks: not in this image"; return; fi
    if [ -z "$share" ] || [ ! -d "$expected" ]; then
        fail "the kernel board's own checks: no traces of the preloaded board in the share"; return; fi
    modprobe -r $module
    mkdir -p "$results/kernel-tests"
    sh "$dir/guest.sh" "$expected" /usr/sbin >"$results/kernel-tests/guest.out" 2>&1
    rc=$?
    counts=$(sed -n 's/^guest: \([0-9]* passed, .*\)/\1/p' "$results/kernel-tests/guest.out")
    if [ "$rc" -eq 0 ] && [ -n "$counts" ]; then ok "the kernel board's own checks: $counts"
    else
        fail "the kernel board's own checks: ${counts:-no summary}, exit status $rc"
        grep -v '^guest: ok: ' "$results/kernel-tests/guest.out" >"$results/kernel-tests/failed.out"
        detail "$results/kernel-tests/failed.out"
    fi
}

begin
# The module is loaded and its nodes checked whatever is asked for: everything else needs them.
if module_checks; then
    wanted check && bringup_good
    wanted failing && bringup_failing
    wanted units && unit_checks
    wanted capture && capture_checks
    wanted kernel-tests && kernel_tests
fi
modprobe -r $module 2>/dev/null
total=$(awk -v a="$started" -v b="$(uptime_s)" 'BEGIN { printf "%.0f", b - a }')
say "checks took $total s; the verdict came $(uptime_s) s after the kernel started"
summary
status=$?
[ -z "$share" ] || cp -r "$results"/. "$share"/
sync
exit $status
