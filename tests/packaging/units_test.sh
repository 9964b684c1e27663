#!/bin/sh
# Checks the generated service units and maintainer scripts of board-bringup-tools.
# Usage: units_test.sh <build>/packaging <build>/bin
set -u
made=$1
bin=$2
units="otgpower otgpoweriddq otgpowersave"
work=$(mktemp -d /tmp/bringup-units-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
ok() { passed=$((passed + 1)); }
fail() { failed=$((failed + 1)); echo "FAILED: $*"; }
expect() {  # expect <description> <expected> <actual>
    if [ "$2" = "$3" ]; then ok; else fail "$1"; printf '  expected: %s\n  actual:   %s\n' "$2" "$3"; fi
}

# systemd-analyze verify on each unit, its ExecStart pointed at the daemon just built (the
# manual pages are not installed in a build tree, so their check is left out).
mkdir -p "$work/units"
for unit in $units; do
    sed "s|^ExecStart=/usr/sbin/|ExecStart=$bin/|" "$made/systemd/$unit.service" >"$work/units/$unit.service"
done
if command -v systemd-analyze >/dev/null; then
    for unit in $units; do
        if systemd-analyze verify --man=no "$work/units/$unit.service" >"$work/verify.log" 2>&1; then ok
        else fail "systemd-analyze verify $unit.service"; sed 's/^/  | /' "$work/verify.log"; fi
    done
else
    echo "systemd-analyze missing: units not verified"
fi

# Each unit runs its own daemon and conflicts with exactly the two others.
for unit in $units; do
    expect "$unit ExecStart" "ExecStart=/usr/sbin/$unit" "$(grep '^ExecStart=' "$made/systemd/$unit.service")"
    others=$(for u in $units; do [ "$u" = "$unit" ] || printf '%s.service ' "$u"; done)
    expect "$unit Conflicts" "Conflicts=${others% }" "$(grep '^Conflicts=' "$made/systemd/$unit.service")"
done

# Each unit is skipped, not failed, where the controller's driver is not there (as on this
# machine), and is wanted by port 0's device as systemd names it from the daemons' header, which
# the udev rule makes known to systemd once the driver has bound it: an enabled unit starts when
# the driver binds, at boot or later.
header="$(dirname "$0")/../../include/bringup/otg.h"
port0=$(sed -n 's/^#define OTG_PORT_DIR_PREFIX "\(.*\)"$/\10/p' "$header")
if command -v systemd-escape >/dev/null; then
    device=$(systemd-escape --path --suffix=device "$port0")
    for unit in $units; do
        condition=$(grep '^ConditionPathExists=' "$made/systemd/$unit.service")
        expect "$unit skipped without the controller" "Conditions failed." \
            "$(systemd-analyze condition "$condition" 2>&1 | tail -n 1)"
        expect "$unit wanted by the controller's port 0" "WantedBy=multi-user.target $device" \
            "$(grep '^WantedBy=' "$made/systemd/$unit.service")"
    done
fi
expect "udev rule tags the ports the controller's driver bound" \
    'ACTION!="remove", SUBSYSTEM=="logicmodule", DRIVER=="dwc_otg", TAG+="systemd"' \
    "$(grep -v '^#' "$made/udev/60-board-bringup-usbpower.rules")"

# The maintainer scripts, run with a deb-systemd-helper and deb-systemd-invoke that record their
# calls. /run/systemd/system is absent here, so the scripts take the path of a system not booted
# with systemd (a chroot, a container): no daemon-reload, no stop.
mkdir -p "$work/path"
for helper in deb-systemd-helper deb-systemd-invoke systemctl; do
    # Like a machine where the units were never installed, unless ENABLED is set: then they were
    # installed and an administrator enabled them.
    cat >"$work/path/$helper" <<HELPER
#!/bin/sh
echo "$helper \$*" >>"$work/calls"
case "\$*" in *debian-installed*|*was-enabled*) [ -n "\${ENABLED:-}" ] ;; esac
HELPER
    chmod +x "$work/path/$helper"
done
run_script() {  # run_script <script> <args...>: prints the recorded calls
    script=$1
    shift
    : >"$work/calls"
    PATH="$work/path:$PATH" sh "$made/debian/$script" "$@" >/dev/null 2>&1 || echo "exit status $?"
    cat "$work/calls"
}
each() {  # each <call> [<call>...]: the expected calls for every unit, in order
    for u in $units; do for c in "$@"; do echo "$c $u.service"; done; done
}
# A fresh install registers the units without enabling them.
expect "postinst configure, fresh" \
    "$(each "deb-systemd-helper unmask" "deb-systemd-helper debian-installed" "deb-systemd-helper update-state")" \
    "$(run_script postinst configure)"
# An upgrade keeps an administrator's choice to enable a unit.
expect "postinst configure, enabled before" \
    "$(each "deb-systemd-helper unmask" "deb-systemd-helper debian-installed" "deb-systemd-helper --quiet was-enabled" \
            "deb-systemd-helper enable" "deb-systemd-helper update-state")" \
    "$(ENABLED=1 run_script postinst configure 0.1.0-1)"
expect "postinst leaves other actions alone" "" "$(run_script postinst triggered)"
# Without init-system-helpers (a system being set up) postinst calls no helper and says nothing.
mkdir -p "$work/none"
expect "postinst without deb-systemd-helper" "exit 0" \
    "$(PATH="$work/none" /bin/sh "$made/debian/postinst" configure 2>&1; echo "exit $?")"
expect "prerm without systemd running" "" "$(run_script prerm remove)"
expect "postrm remove masks" "$(each "deb-systemd-helper mask")" "$(run_script postrm remove)"
expect "postrm purge forgets" "$(each "deb-systemd-helper purge" "deb-systemd-helper unmask")" "$(run_script postrm purge)"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
