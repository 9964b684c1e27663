#!/bin/sh
# wlanpower on a simulated board: switch the Wi-Fi module on and off, then with a driver that
# refuses the first request of each direction, and one that refuses every request.
set -e
: "${BRINGUP_BUILD:?}" "${BRINGUP_PREFIX:?}" "${BRINGUP_OUT:?}"
sim="$BRINGUP_BUILD/boardsim/boardsim"
out="$BRINGUP_OUT/wlanpower"
rm -rf "$out" && mkdir -p "$out"
eval "$("$sim" protocol)"

# Runs wlanpower on a fresh board of the profile and shows its output, status and requests.
show() {
    profile=$1; shift
    board="$out/board-$profile-$1"
    "$sim" create "$board" --profile "$profile" >/dev/null
    status=0
    output=$("$sim" run "$board" -- "$BRINGUP_PREFIX/bin/wlanpower" "$@") || status=$?
    echo "-- wlanpower $*   (driver: $profile)   exit status $status"
    [ -n "$output" ] && echo "   printed: $output"
    awk -F'\t' -v node="$WIFI_POWER_NODE" '$4 == node && $3 == "ioctl" {
        printf "   request %s -> %s\n", $5, $6 == 0 ? "accepted" : "refused" }' "$board/trace.log"
    [ -f "$board/state/wifi.power" ] && echo "   Wi-Fi module is now $( [ "$(cat "$board/state/wifi.power")" = 1 ] && echo on || echo off)"
    return 0
}

show default 1
show default 0
show wifi-second 1
show wifi-refuse 0
show wifi-absent 1
