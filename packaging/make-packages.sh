#!/bin/sh
# Builds the Debian packages of a CMake preset's target into out/packages/ and checks each with
# lintian. Usage: packaging/make-packages.sh [preset]   (default: dev, the host's architecture)
# The packaging build is a release build of its own in build/<preset>-package.
set -e
preset=${1:-dev}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/$preset-package"
out="$root/out/packages"
cd "$root"

cmake --preset "$preset" -B "$build" -DBRINGUP_PACKAGING=ON -DCMAKE_BUILD_TYPE=Release \
    -DBRINGUP_TESTS=OFF -DBRINGUP_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
# As many jobs as CMAKE_BUILD_PARALLEL_LEVEL says, or as this machine has processors.
cmake --build "$build" -j "${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"
# The packages' architecture, as the configuration wrote it (cmake/Packaging.cmake).
arch=$(cat "$build/packaging/deb-architecture")
rm -rf "$build/cpack"
(cd "$build" && cpack -G DEB -B "$build/cpack")
mkdir -p "$out"
rm -f "$out"/*_"$arch".deb "$out"/*_all.deb
cp "$build"/cpack/*.deb "$out"/
ls -l "$out"/*_"$arch".deb "$out"/*_all.deb

# lintian: no error, no warning (overrides, each with its reason, are shipped in the packages).
lintian --fail-on error,warning --info "$out"/*_"$arch".deb "$out"/*_all.deb
