#!/bin/sh
# Plants each fault of tools/mutants.txt, one at a time, in a scratch copy of the tree, builds that
# copy with the dev preset, runs the tests named for the fault and prints which faults they caught.
#
# Usage: tools/mutate.sh [NAME...]        (no name: every fault on the list)
#   MUTATE_DIR   where the scratch copy and its build live (default build/mutate)
#
# A fault whose tests are "quick-boot" is in the kernel board: the scratch copy's module is built
# for Debian's amd64 kernel and the fault is tried by kernel/tests/quick-boot.sh (about two
# minutes a fault, one more for the unchanged module).
#
# The scratch copy keeps its build between runs, so after the first run each fault costs an
# incremental build of what it touches plus its tests. Exit status 0 when every fault tried was
# caught, 1 otherwise, 2 when the unchanged copy does not build or its tests fail.
set -u

top=$(cd "$(dirname "$0")/.." && pwd)
list="$top/tools/mutants.txt"
scratch="${MUTATE_DIR:-$top/build/mutate}"
tree="$scratch/tree"
logs="$scratch/logs"
tab=$(printf '\t')

mkdir -p "$tree" "$logs" || exit 2
rm -f "$logs"/*.log

# The faults to try, as "name<TAB>file<TAB>tests<TAB>text<TAB>replacement" lines.
selected="$scratch/selected.txt"
grep -v -e '^#' -e '^[[:space:]]*$' "$list" > "$scratch/all.txt"
if [ $# -eq 0 ]; then
    cp "$scratch/all.txt" "$selected"
else
    : > "$selected"
    for name in "$@"; do
        if ! grep "^$name$tab" "$scratch/all.txt" >> "$selected"; then
            echo "mutate: no fault named \"$name\" in tools/mutants.txt" >&2
            exit 2
        fi
    done
fi

# Refresh the scratch copy from the working tree (tracked and new files, nothing ignored). Only
# files whose content differs are copied, with a fresh file time, so the scratch build stays
# incremental and never keeps an object built from a planted fault.
incoming="$scratch/incoming"
rm -rf "$incoming" && mkdir -p "$incoming" || exit 2
(cd "$top" && git ls-files -z --cached --others --exclude-standard |
     tar --null --ignore-failed-read -T - -cf - 2>/dev/null) | tar -xf - -C "$incoming" || exit 2
(cd "$incoming" && find . -type f) | while IFS= read -r f; do
    if ! cmp -s "$incoming/$f" "$tree/$f"; then
        mkdir -p "$(dirname "$tree/$f")" && cat "$incoming/$f" > "$tree/$f" && chmod --reference="$incoming/$f" "$tree/$f"
    fi
done
(cd "$tree" && find . -path ./build -prune -o -type f -print) | while IFS= read -r f; do
    [ -e "$incoming/$f" ] || rm -f "$tree/$f"
done
rm -rf "$incoming"
# A run that was killed while a fault was planted may have built it: rebuild that file.
if [ -s "$scratch/planted" ]; then
    touch "$tree/$(cat "$scratch/planted")"
    rm -f "$scratch/planted"
fi

build() {
    (cd "$tree" && cmake --preset dev >/dev/null && cmake --build --preset dev) > "$1" 2>&1
}

# The kernel board's module alone, from the scratch copy, as its DKMS source lays it out.
build_module() {
    (cd "$tree" && kernel/layout.sh "$scratch/module" &&
        make -s -C "$scratch/module" KDIR="$(kernel/fetch-kernel.sh amd64)") >> "$1" 2>&1
}

runtests() {
    if [ "$2" = quick-boot ]; then
        (cd "$tree" && kernel/tests/quick-boot.sh build/dev) > "$1" 2>&1
    else
        (cd "$tree" && ctest --preset dev -j2 --output-on-failure -R "$2") > "$1" 2>&1
    fi
}

echo "mutate: building the scratch copy in $tree"
if ! build "$logs/baseline-build.log"; then
    echo "mutate: the unchanged tree does not build; see $logs/baseline-build.log" >&2
    exit 2
fi
# The tests must pass on the unchanged tree, or a caught fault would mean nothing.
all_tests=$(cut -f3 "$selected" | grep -vx quick-boot | sort -u | paste -sd'|' -)
echo "mutate: running the chosen tests on the unchanged tree"
if [ -n "$all_tests" ] && ! runtests "$logs/baseline-tests.log" "$all_tests"; then
    echo "mutate: tests fail on the unchanged tree; see $logs/baseline-tests.log" >&2
    exit 2
fi
if cut -f3 "$selected" | grep -qx quick-boot &&
    ! { build_module "$logs/baseline-module.log" && runtests "$logs/baseline-quick-boot.log" quick-boot; }; then
    echo "mutate: the unchanged kernel board fails its quick boot; see $logs/baseline-quick-boot.log" >&2
    exit 2
fi

results="$scratch/results.txt"
: > "$results"
tried=0
caught=0
while IFS="$tab" read -r name file tests text replacement; do
    tried=$((tried + 1))
    target="$tree/$file"
    start=$(date +%s)
    log="$logs/$name.log"
    # Exactly one occurrence, replaced as plain text (no pattern characters); \011 in the text
    # or the replacement stands for a tab, \012 for a line end.
    text=$(printf '%s' "$text" | sed 's/\\011/\t/g; s/\\012/\n/g')
    replacement=$(printf '%s' "$replacement" | sed 's/\\011/\t/g; s/\\012/\n/g')
    count=$(FROM="$text" perl -0777 -ne '$n = () = /\Q$ENV{FROM}\E/g; print $n' "$target" 2>/dev/null || echo 0)
    if [ "$count" != 1 ]; then
        verdict="NOT PLANTED (text found $count times in $file)"
    else
        cp "$target" "$scratch/pristine"
        printf '%s\n' "$file" > "$scratch/planted"
        # Put the file back however the run ends.
        trap 'cat "$scratch/pristine" > "$target"; exit 3' INT TERM HUP
        FROM="$text" TO="$replacement" perl -0777 -pi -e 's/\Q$ENV{FROM}\E/$ENV{TO}/' "$target"
        if ! build "$log" || { [ "$tests" = quick-boot ] && ! build_module "$log"; }; then
            verdict="NOT PLANTED (does not build; see $log)"
        elif runtests "$log" "$tests"; then
            verdict="MISSED"
        else
            verdict="caught"
            caught=$((caught + 1))
        fi
        # A fresh file time, so the next build puts the unchanged code back.
        cat "$scratch/pristine" > "$target"
        trap - INT TERM HUP
        rm -f "$scratch/planted"
    fi
    seconds=$(($(date +%s) - start))
    printf '%-34s %-8s %4ss  %s\n' "$name" "$verdict" "$seconds" "$tests" | tee -a "$results"
done < "$selected"

build "$logs/restore-build.log" || true
echo "mutate: $caught of $tried planted faults caught (logs in $logs)"
[ "$caught" -eq "$tried" ]
