#!/bin/sh
# Which top-level folder may include and link which: the checker and the simulated board meet only
# in the board folder's reader (boardfiles/) and the protocol headers (include/bringup/), and no
# program of the suite includes or links either of them.
# Usage: layering_test.sh <source dir>
set -u
src=$1
failed=0

# Each rule: a folder, then the folders it must neither include nor link.
rules='bringupcheck boardsim
boardsim bringupcheck
boardfiles boardsim bringupcheck
pcmcapture boardsim bringupcheck
usbpower boardsim bringupcheck
wlanpower boardsim bringupcheck
configlist boardsim bringupcheck
samples boardsim bringupcheck
demobase boardsim bringupcheck'

# The libraries and executables a folder defines.
targets_of() {
    find "$src/$1" -name CMakeLists.txt -exec sed -n \
        -e 's/^[[:space:]]*add_library([[:space:]]*\([A-Za-z0-9_.-]*\).*/\1/p' \
        -e 's/^[[:space:]]*add_executable([[:space:]]*\([A-Za-z0-9_.-]*\).*/\1/p' {} +
}

# What a folder's CMake files link or compile in: every target_link_libraries(...) call, every
# $<TARGET_OBJECTS:...> and every source named under the project's root, one a line.
links_of() {
    find "$src/$1" -name CMakeLists.txt | while read -r f; do
        tr '\n' ' ' <"$f" | grep -o -e 'target_link_libraries([^)]*)' -e 'TARGET_OBJECTS:[^>]*' \
            -e 'SOURCE_DIR}/[A-Za-z0-9_.-]*/'
    done
}

while read -r folder forbidden; do
    [ -d "$src/$folder" ] || continue
    links=$(links_of "$folder")
    for other in $forbidden; do
        found=$(grep -rn -e "#include \"\(\.\./\)*$other/" "$src/$folder" --include='*.cpp' --include='*.h' \
            --include='*.c')
        if [ -n "$found" ]; then
            echo "FAILED: $folder/ includes $other/:"
            echo "$found"
            failed=$((failed + 1))
        fi
        for t in $(targets_of "$other") "/$other/"; do
            if printf '%s\n' "$links" | grep -q -w -F -e "$t"; then
                echo "FAILED: $folder/ links $other/ ($t)"
                failed=$((failed + 1))
            fi
        done
    done
done <<EOF_RULES
$rules
EOF_RULES
[ "$failed" -eq 0 ] || exit 1
echo "layering: every rule held"
