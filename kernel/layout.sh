#!/bin/sh
# Lays out the kernel board module's source as DKMS takes it: the module's sources, Kbuild and
# Makefile in DEST, the protocol headers it includes under DEST/include/bringup/. dkms.conf, which
# carries the package's version, is the packaging's to add. `make -C DEST KDIR=...` builds the
# module there, leaving the source tree clean.
# Usage: kernel/layout.sh DEST      (DEST is emptied first)
#        kernel/layout.sh --sources (prints the files laid out, one a line, for dependency lists)
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
sources() {
    for f in "$top"/kernel/*.c "$top"/kernel/*.h "$top"/kernel/Kbuild "$top"/kernel/Makefile; do
        echo "$f"
    done
}
headers() {
    for f in "$top"/include/bringup/*.h; do echo "$f"; done
}
[ $# -eq 1 ] || { echo "usage: kernel/layout.sh DEST | --sources" >&2; exit 2; }
if [ "$1" = --sources ]; then
    sources
    headers
    exit 0
fi
dest=$1
rm -rf "$dest"
mkdir -p "$dest/include/bringup"
cp $(sources) "$dest/"
cp $(headers) "$dest/include/bringup/"
