#!/bin/sh
# Installs the Debian packages listed in tools/packages.txt that are missing.
# Usage: tools/install-deps.sh [extra-list]   (extra-list: e.g. tools/packages-assets.txt)
set -e
here=$(cd "$(dirname "$0")" && pwd)
lists="$here/packages.txt $*"
missing=""
for pkg in $(cat $lists | sed 's/#.*//'); do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $pkg" ;;
    esac
done
[ -z "$missing" ] && exit 0
echo "install-deps: missing packages:$missing"
if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: run as root: apt-get update && apt-get install -y$missing" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends $missing
