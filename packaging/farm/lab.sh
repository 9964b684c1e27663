#!/bin/sh
# The board farm's lab on this machine: LAVA's server (PostgreSQL, apache, gunicorn, the scheduler,
# the publisher) and two workers from Debian's packages, with the boards of packaging/farm/boards.conf
# as devices of the qemu device type. Everything listens on 127.0.0.1 only.
#
# Usage: packaging/farm/lab.sh install|configure|start|stop|status
#   install    installs the packages (PostgreSQL running before lava-server is installed: its
#              installation creates the database in the running cluster)
#   configure  a fresh instance: drops the database and the workers' state of an earlier one,
#              binds every daemon to 127.0.0.1, creates the admin user (password generated into a
#              root-only file, never printed), its API token, the workers and their tokens, the
#              device type with its health check, and the boards (each a device with a dictionary
#              of its own, tagged with its name), in maintenance until put into service (health
#              Unknown), when the scheduler runs their health check first. Needs the daemons stopped.
#   start      starts the daemons: with systemd where it is PID 1, otherwise each unit's own
#              ExecStart under start-stop-daemon with a pid file
#   stop       stops every daemon this script starts, PostgreSQL last; nothing is left listening
#   status     each daemon's pid, or "stopped"
#   dictionaries DIR   writes the boards' device dictionaries into DIR (as configure installs them)
#
# Settings (environment): FARM_IMAGE (the board image folder, default build/image of this tree),
# FARM_STATE (tokens, password, worker folders, shares: /var/lib/bringup-farm), FARM_BOARDS (how many
# boards of boards.conf, default 3), FARM_BROKEN=1 (also the broken board, for the health check).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
state=${FARM_STATE:-/var/lib/bringup-farm}
image=${FARM_IMAGE:-$top/build/image}
boards=${FARM_BOARDS:-3}
run=/run/bringup-farm
etc=/etc/lava-server
dtdir=$etc/dispatcher-config
# The lab's own names: the API user, the workers (worker 1 stands for this host, worker 2 for a
# second host with the same settings).
admin=farm-admin
workers="farm-worker-1 farm-worker-2"
# The server's address for the workers and bringup-farm; apache proxies to gunicorn and the publisher.
url=http://127.0.0.1/
# A finished job is noticed within this many seconds (LAVA's default is 20).
ping=2

say() { echo "lab: $*"; }
die() { echo "lab: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] || [ "${1:-}" = dictionaries ] || die "needs root"

systemd_pid1() { [ "$(cat /proc/1/comm 2>/dev/null)" = systemd ]; }

# --- install -----------------------------------------------------------------------------------

install() {
    if ! dpkg-query -W -f='${Status}' postgresql 2>/dev/null | grep -q "install ok installed"; then
        DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends postgresql
    fi
    start_db
    "$top/tools/install-deps.sh" "$top/tools/packages-lava.txt" "$top/tools/packages-farm.txt"
}

# --- the daemons -------------------------------------------------------------------------------

# The daemons in start order: name, user of the pid file, and the command (a unit's ExecStart,
# with the settings its EnvironmentFile gives, written out by configure into $state/daemons).
start_db() {
    if systemd_pid1; then systemctl start postgresql; return; fi
    for c in $(pg_lsclusters -h | awk '{print $1 "/" $2}'); do
        pg_ctlcluster --skip-systemctl-redirect "${c%/*}" "${c#*/}" start >/dev/null 2>&1 || true
    done
}

stop_db() {
    if systemd_pid1; then systemctl stop postgresql; return; fi
    for c in $(pg_lsclusters -h | awk '{print $1 "/" $2}'); do
        pg_ctlcluster --skip-systemctl-redirect "${c%/*}" "${c#*/}" stop -m fast 2>/dev/null || true
    done
}

# start-stop-daemon for one daemon of the table in $state/daemons: "name command...".
ssd_start() {
    name=$1; exe=$2; shift 2
    start-stop-daemon --start --quiet --background --make-pidfile --pidfile "$run/$name.pid" \
        --output "$state/log/$name.out" --exec "$exe" -- "$@"
}

# Stops a daemon by its pid file, then what it started in its session (start-stop-daemon gave it
# one of its own): a worker's dispatchers outlive it otherwise.
ssd_stop() {
    [ -f "$run/$1.pid" ] || return 0
    sid=$(ps -o sid= -p "$(cat "$run/$1.pid")" 2>/dev/null | tr -d ' ' || true)
    start-stop-daemon --stop --quiet --pidfile "$run/$1.pid" --retry TERM/15/KILL/5 --remove-pidfile >/dev/null 2>&1 || true
    rm -f "$run/$1.pid"
    if [ -n "$sid" ] && [ "$sid" -gt 1 ] && pkill -TERM -s "$sid" 2>/dev/null; then
        sleep 2
        pkill -KILL -s "$sid" 2>/dev/null || true
    fi
}

daemon_lines() { sed 's/#.*//; /^[[:space:]]*$/d' "$state/daemons"; }

start() {
    [ -f "$state/daemons" ] || die "not configured: run $0 configure"
    mkdir -p "$run" "$state/log"
    start_db
    if systemd_pid1; then
        systemctl restart apache2 lava-server-gunicorn lava-publisher lava-scheduler
    fi
    # The workers are the lab's own (names, tokens, folders): started here under systemd too.
    daemon_lines | while read -r name cmd; do
        case "$name" in lava-server-*|lava-publisher|lava-scheduler) ! systemd_pid1 || continue ;; esac
        # shellcheck disable=SC2086 # the command's words, as the unit's ExecStart splits them
        ssd_start "$name" $cmd
    done
    # apache forks on its own (Type=forking): its control script keeps the pid file.
    systemd_pid1 || APACHE_STARTED_BY_SYSTEMD=true apachectl start
    wait_for_api
}

wait_for_api() {
    tries=120
    until curl -fsS -o /dev/null "${url}api/v0.2/system/version/" 2>/dev/null; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] || die "the server does not answer at $url (see $state/log and /var/log/lava-server)"
        sleep 0.5
    done
}

stop() {
    # The workers first: a worker stopping ends its jobs' dispatchers.
    for w in $workers; do ssd_stop "$w"; done
    if systemd_pid1; then
        systemctl stop lava-scheduler lava-publisher lava-server-gunicorn apache2 || true
    else
        apachectl stop 2>/dev/null || true
        for n in lava-scheduler lava-publisher lava-server-gunicorn; do ssd_stop "$n"; done
    fi
    stop_db
    # What a killed dispatcher left: its qemu, known by a share folder of this lab.
    for p in $(pgrep -f "qemu-system-aarch64.*$state/shares/" || true); do kill -9 "$p" 2>/dev/null || true; done
    left=$(listening)
    [ -z "$left" ] || die "still listening after stop: $left"
}

# What listens on TCP that is ours: the ports of the lab's daemons and the database.
listening() {
    ss -Hltnp 2>/dev/null | grep -E 'postgres|apache2|gunicorn|lava-|python3|qemu-system' | awk '{print $4}' | tr '\n' ' ' || true
}

status() {
    for n in lava-server-gunicorn lava-publisher lava-scheduler $workers; do
        if [ -f "$run/$n.pid" ] && kill -0 "$(cat "$run/$n.pid")" 2>/dev/null; then
            echo "$n $(cat "$run/$n.pid")"
        else
            echo "$n stopped"
        fi
    done
    echo "listening: $(listening)"
}

# --- configure ---------------------------------------------------------------------------------

manage() { lava-server manage "$@"; }

# A secret into a root-only file, never on a terminal.
secret_file() {
    umask 077
    cat >"$1.part"
    chmod 600 "$1.part"
    mv "$1.part" "$1"
}

configure() {
    [ -d "$image" ] || die "no board image in $image (make image, or set FARM_IMAGE)"
    for f in vmlinuz initrd.img disk.ext4; do [ -f "$image/$f" ] || die "no $image/$f (make image)"; done
    mkdir -p "$state" "$run"
    chmod 700 "$state"
    start_db
    fresh_database
    bind_local
    set_environment
    # The API's user: a superuser whose password nobody needs (the token does the work).
    manage users add --superuser --staff "$admin" | secret_file "$state/admin-password"
    manage tokens add --user "$admin" --description "bringup-farm" | secret_file "$state/admin-token"
    rm -rf "$state/workers" "$state/shares"
    mkdir -p "$state/workers" "$state/shares" "$state/log"
    for w in $workers; do
        manage workers add --description "bringup farm worker" "$w" | sed -n 's/^Token: //p' |
            secret_file "$state/workers/$w.token"
        mkdir -p "$state/workers/$w"
    done
    device_type
    add_boards
    write_daemons
    say "configured: $(manage devices list -a 2>/dev/null | grep -c '^\* ' || true) devices, workers $workers"
}

# A reinstall keeps the old database and what the workers kept of it; the lab starts from none.
fresh_database() {
    db=$(sed -n 's/^ *NAME: *"\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' "$etc/settings.d/00-database.yaml" | head -n 1)
    dbuser=$(sed -n 's/^ *USER: *"\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' "$etc/settings.d/00-database.yaml" | head -n 1)
    [ -n "$db" ] && [ -n "$dbuser" ] || die "no database settings in $etc/settings.d/00-database.yaml"
    (cd / && su postgres -c "dropdb --if-exists '$db'" && su postgres -c "createdb -O '$dbuser' '$db'")
    manage migrate --noinput >/dev/null
    # The old instance's job logs and the dispatchers' job folders: job ids start again at 1, and a
    # new job's log would be appended to an old one's of the same id.
    rm -rf /var/lib/lava-server/default/media/job-output/* /var/lib/lava/dispatcher/tmp/*
}

bind_local() {
    # apache: the LAVA site on 127.0.0.1:80 only, with the proxy modules it needs.
    sed -i 's/^Listen .*80$/Listen 127.0.0.1:80/' /etc/apache2/ports.conf
    sed -i '/<IfModule ssl_module>/,/<\/IfModule>/s/^\(\s*\)Listen .*/\1Listen 127.0.0.1:443/;
            /<IfModule mod_gnutls.c>/,/<\/IfModule>/s/^\(\s*\)Listen .*/\1Listen 127.0.0.1:443/' /etc/apache2/ports.conf
    a2dissite -q 000-default >/dev/null 2>&1 || true
    a2enmod -q proxy proxy_http proxy_wstunnel >/dev/null
    a2ensite -q lava-server >/dev/null
    echo "ServerName 127.0.0.1" >/etc/apache2/conf-available/bringup-farm.conf
    a2enconf -q bringup-farm >/dev/null
    # gunicorn and the publisher's web socket on 127.0.0.1; the event socket likewise.
    printf 'BIND="--bind 127.0.0.1:8000"\nWORKERS=2\n' >"$etc/lava-server-gunicorn"
    printf 'HOST="127.0.0.1"\nPORT=8001\n' >"$etc/lava-publisher"
    printf 'EVENT_URL="--event-url tcp://127.0.0.1:5500"\n' >"$etc/lava-scheduler"
    cat >"$etc/settings.d/50-bringup-farm.yaml" <<EOF
# The board farm's lab (packaging/farm/lab.sh): events on, so that a submitted job is scheduled at
# once rather than at the scheduler's next round; the event socket on 127.0.0.1 only.
EVENT_NOTIFICATION: true
EVENT_SOCKET: "tcp://127.0.0.1:5500"
EOF
}

# The dispatcher's environment is the server's env.yaml alone (purge: true): libguestfs, which
# builds each job's test overlay disk, gets its settings there (as packaging/lava/run-jobs.py gives
# lava-run), and the appliance's kernel when this machine has none in /boot.
set_environment() {
    {
        echo "# Written by packaging/farm/lab.sh: the dispatcher's environment for the board farm."
        echo "purge: true"
        echo "overrides:"
        echo "  LC_ALL: C.UTF-8"
        echo "  LANG: C"
        echo "  PATH: /usr/local/bin:/usr/local/sbin:/bin:/usr/bin:/usr/sbin:/sbin"
        echo "  LIBGUESTFS_BACKEND_SETTINGS: force_tcg"
        if ! ls /boot/vmlinuz-* >/dev/null 2>&1; then
            release=$("$top/kernel/fetch-kernel.sh" amd64 release)
            root=$("$top/kernel/fetch-kernel.sh" amd64 root)
            [ -f "$root/lib/modules/$release/modules.dep" ] || depmod -b "$root" "$release"
            echo "  SUPERMIN_KERNEL: $root/boot/vmlinuz-$release"
            echo "  SUPERMIN_MODULES: $root/lib/modules/$release"
            echo "  SUPERMIN_KERNEL_VERSION: $release"
        fi
    } >"$etc/env.yaml"
}

device_type() {
    manage device-types add qemu >/dev/null
    # The health check: the board image boots and the kernel board loads with the board's settings.
    mkdir -p "$dtdir/health-checks"
    /usr/bin/python3 "$here/render-health.py" "$image" >"$dtdir/health-checks/qemu.yaml"
}

# boards.conf: "name worker role settings", settings being module parameters NAME=VALUE joined by
# spaces, or "-". Each becomes an -fw_cfg option of its own (commas doubled, as QEMU reads them).
board_lines() {
    sed 's/#.*//; /^[[:space:]]*$/d' "$here/boards.conf" | {
        n=0
        while read -r name worker role settings _failing; do
            case "$role" in
                board) n=$((n + 1)); [ "$n" -le "$boards" ] || continue ;;
                broken) [ "${FARM_BROKEN:-0}" = 1 ] || continue ;;
            esac
            echo "$name $worker $settings"
        done
    }
}

# Each board's dictionary into the folder $1.
dictionaries() {
    mkdir -p "$1"
    board_lines | while read -r name worker settings; do
        share="$state/shares/$name"
        options="'-smp 2', '-no-reboot', '-virtfs local,path=$share,mount_tag=results,security_model=none,id=results'"
        if [ "$settings" != "-" ]; then
            for s in $settings; do
                value=$(printf '%s' "${s#*=}" | sed 's/,/,,/g')
                options="$options, '-fw_cfg name=opt/bringup_sim/${s%%=*},string=$value'"
            done
        fi
        sed -e "s|@OPTIONS@|$options|" -e "s|@NAME@|$name|" "$here/device.jinja2" >"$1/$name.jinja2"
    done
}

add_boards() {
    rm -f "$dtdir/devices/"*.jinja2
    dictionaries "$dtdir/devices"
    board_lines | while read -r name worker settings; do
        mkdir -p "$state/shares/$name"
        manage devices add "$name" --device-type qemu --worker "farm-worker-$worker" --tags "$name"
        # In maintenance until put into service (health Unknown), which runs its health check first.
        manage devices update --health MAINTENANCE "$name"
    done
}

# Each daemon's command: the ExecStart of its unit with its settings filled in.
write_daemons() {
    {
        echo "# name command (packaging/farm/lab.sh start runs them in this order)"
        echo "lava-server-gunicorn /usr/bin/gunicorn3 lava_server.wsgi --log-level INFO --log-file /var/log/lava-server/gunicorn.log -u lavaserver -g lavaserver --worker-class eventlet --workers 2 --bind 127.0.0.1:8000"
        echo "lava-publisher /usr/bin/lava-server manage lava-publisher --level INFO --log-file /var/log/lava-server/lava-publisher.log --host 127.0.0.1 --port 8001"
        echo "lava-scheduler /usr/bin/lava-server manage lava-scheduler --level INFO --log-file /var/log/lava-server/lava-scheduler.log --event-url tcp://127.0.0.1:5500"
        for w in $workers; do
            echo "$w /usr/bin/lava-worker --level INFO --log-file $state/log/$w.log --url $url --ws-url ${url}ws/ --name $w --token-file $state/workers/$w.token --worker-dir $state/workers/$w --ping-interval $ping --job-log-interval 2"
        done
    } >"$state/daemons"
}

case "${1:-}" in
    install) install ;;
    configure) configure ;;
    start) start ;;
    stop) stop ;;
    status) status ;;
    dictionaries) dictionaries "${2:?a folder}" ;;
    *) die "usage: $0 install|configure|start|stop|status|dictionaries DIR" ;;
esac
