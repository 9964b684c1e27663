#!/bin/sh
# Measures the kernel board module with the kernel's own checkers and prints their findings,
# then one summary line per checker:
#   checkpatch --no-tree --strict -f  on every C file under kernel/ and the include/bringup/
#                                     headers the module includes
#   make W=1                          the module built with the kernel's extra warnings
#   make C=1                          the same sources run through sparse
# against the headers of Debian's amd64 kernel (kernel/fetch-kernel.sh amd64), in a scratch copy
# of the source laid out as the DKMS package lays it out (build/kernel/lint/src), so the source
# tree stays as it was.
#
# Usage: kernel/tests/lint.sh
# Exit status 0 only when every checker found nothing. The logs are in build/kernel/lint/.
#
# checkpatch is not in the kernel headers packages: it is taken from Debian's linux-source-6.1,
# downloaded with `apt-get download` (not installed) and unpacked, only the few files it reads,
# once into build/kernel/checkpatch/; later runs only run the checks. sparse is a Debian package
# (tools/packages-kernel.txt).
#
# checkpatch types kept off: the list below, one a line as "TYPE  # why it is kept off", and any
# more in LINT_IGNORE (types separated by commas or blanks), e.g. LINT_IGNORE=LONG_LINE,CAMELCASE.
ignored_types='
COMPLEX_MACRO        # the settings and profiles are row lists (X-macros) that expand to rows, not to a value
MACRO_ARG_REUSE      # the same: a row list names each row macro once per row
TRAILING_SEMICOLON   # the module parameter made for each setting row is a declaration, ended by its own semicolon
LINUX_VERSION_CODE   # the module builds outside the tree for several kernels; kernel/compat.h alone tests versions
PREFER_KERNEL_TYPES  # include/bringup/ is shared with the programs, where the kernel types do not exist
BIT_MACRO            # the same: BIT() is the kernel'"'"'s alone
CAMELCASE            # the same: the programs'"'"' C++ constants (kCmdOutSize ...) are the C++ part of qvaudio.h
'
set -e
top=$(cd "$(dirname "$0")/../.." && pwd)
out=$top/build/kernel/lint
tools=$top/build/kernel/checkpatch
cd "$top"

# checkpatch and the word lists it reads, from the linux-source tarball inside the package.
if [ ! -e "$tools/.unpacked" ]; then
    debs=$top/build/kernel/debs
    mkdir -p "$debs"
    rm -rf "$tools"
    mkdir -p "$tools"
    (cd "$debs" && apt-get download -q linux-source-6.1 >&2)
    deb=$(ls -t "$debs"/linux-source-6.1_*_all.deb | head -n 1)
    dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/src/linux-source-6.1.tar.xz | xz -dc |
        tar -x -C "$tools" --strip-components=1 \
            linux-source-6.1/scripts/checkpatch.pl linux-source-6.1/scripts/spelling.txt \
            linux-source-6.1/scripts/const_structs.checkpatch \
            linux-source-6.1/Documentation/dev-tools/checkpatch.rst
    # The unpacked files are all that is kept: the package is large.
    basename "$deb" > "$tools/.unpacked"
    rm -f "$deb"
fi
kdir=$("$top/kernel/fetch-kernel.sh" amd64)

rm -rf "$out"
mkdir -p "$out"

# The files checked: every C file under kernel/ (not the build's *.mod.c) and the bringup/ headers
# they include, and those these include in turn.
files=$(find kernel -name '*.[ch]' ! -name '*.mod.c' | sort)
included() {
    sed -n 's|^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]\(bringup/[^>"]*\.h\)[>"].*|include/\1|p' "$@" |
        sort -u | while read -r h; do [ -f "$h" ] && echo "$h"; done
}
headers=$(included $files)
while :; do
    more=$(printf '%s\n' $headers $(included $headers) | sort -u)
    [ "$more" = "$headers" ] && break
    headers=$more
done

# checkpatch, in a copy of those files at the same relative paths (so that findings read
# kernel/main.c:12), outside any git tree and with an empty root: it leaves its cache files in
# the folder it runs in, and takes the names under the root's include/ as known.
ignore=$(printf '%s\n' "$ignored_types" | sed 's/#.*//' | tr -s ' \t\n' ',' | sed 's/^,//; s/,$//')
extra=$(printf '%s' "${LINT_IGNORE:-}" | tr -s ' \t\n' ',' | sed 's/^,//; s/,$//')
ignore=${ignore:+$ignore${extra:+,}}$extra
mkdir -p "$out/checkpatch/root/include"
for f in $files $headers; do
    mkdir -p "$out/checkpatch/tree/$(dirname "$f")"
    cp "$f" "$out/checkpatch/tree/$f"
done
echo "lint: checkpatch on" $files $headers${ignore:+ "(types kept off: $ignore)"}
# checkpatch's exit status is 1 on any finding: the counts below decide.
(cd "$out/checkpatch/tree" && GIT_DIR=$out/checkpatch/no-git perl "$tools/scripts/checkpatch.pl" \
    --no-tree --root "$out/checkpatch/root" --strict --emacs --show-types --color=never \
    ${ignore:+--ignore "$ignore"} -f $files $headers) > "$out/checkpatch.log" 2>&1 || true
# Its findings with their lines, less its per-file totals and closing notes.
sed '/^NOTE: /{N;d;}; /^total: /d; / has no obvious style problems/d; / has style problems, please review\.$/d' \
    "$out/checkpatch.log"
cp_count() { grep -c "^[^ ]*:[0-9]*: $1:" "$out/checkpatch.log" || true; }
cp_errors=$(cp_count ERROR)
cp_warnings=$(cp_count WARNING)
cp_checks=$(cp_count CHECK)
cp_note=""
grep -q '^total: ' "$out/checkpatch.log" || cp_note=", did not run through"

# The module, from a source folder laid out as the DKMS package lays it out.
"$top/kernel/layout.sh" "$out/src"

# W=1: the compiler's and modpost's warnings.
w1_note=""
make -s -j2 -C "$out/src" KDIR="$kdir" W=1 > "$out/w1.log" 2>&1 || w1_note=", the build failed"
grep -E ': warning: |^WARNING: ' "$out/w1.log" > "$out/w1.warnings" || true
if [ -n "$w1_note" ]; then cat "$out/w1.log"; else cat "$out/w1.warnings"; fi
w1_warnings=$(wc -l < "$out/w1.warnings")

# C=1 from clean: every file is compiled again and run through sparse. sparse's own output goes to
# a log of its own through a wrapper, apart from the compiler's (counted under W=1).
make -s -C "$out/src" KDIR="$kdir" clean > /dev/null 2>&1 || true
printf '#!/bin/sh\necho >> "%s"\nexec sparse "$@" 2>> "%s"\n' "$out/sparse.runs" "$out/sparse.log" > "$out/sparse.sh"
chmod +x "$out/sparse.sh"
: > "$out/sparse.log"
: > "$out/sparse.runs"
sparse_note=""
if ! command -v sparse > /dev/null; then
    sparse_note=", no sparse (tools/install-deps.sh tools/packages-kernel.txt)"
elif ! make -s -j2 -C "$out/src" KDIR="$kdir" C=1 CHECK="$out/sparse.sh" > "$out/c1.log" 2>&1; then
    # A build that fails stops before sparse sees the file; its log is the one shown above.
    sparse_note=", the build failed"
    [ -n "$w1_note" ] || cat "$out/c1.log"
elif [ ! -s "$out/sparse.runs" ]; then
    sparse_note=", sparse checked no file"
fi
# sparse's findings are warnings and errors, each followed by the lines of its context.
cat "$out/sparse.log"
sparse_warnings=$(grep -cE ': (warning|error): ' "$out/sparse.log" || true)

echo "lint: checkpatch $cp_errors errors, $cp_warnings warnings, $cp_checks checks$cp_note"
echo "lint: W=1 $w1_warnings warnings$w1_note"
echo "lint: sparse $sparse_warnings warnings$sparse_note"
[ $((cp_errors + cp_warnings + cp_checks + w1_warnings + sparse_warnings)) -eq 0 ] &&
    [ -z "$cp_note$w1_note$sparse_note" ]
