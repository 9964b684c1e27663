# The two commands: `make run` shows the suite on the simulated board, `make test` runs every test.
PRESET ?= dev
BUILD  := build/$(PRESET)
MAKEFLAGS += --no-print-directory
# The aarch64 preset needs the cross packages and runs its arm64 programs under qemu-user, pinned
# to one CPU (docs/cross.md).
DEPS_aarch64 := tools/packages-cross.txt
LAUNCH_aarch64 := cmake/qemu-aarch64.sh --pin

.PHONY: all deps configure build run test test-asan test-tsan bench mutate fuzz soak package image vmtest lava farm klint clean

all: build

deps:
	@tools/install-deps.sh $(DEPS_$(PRESET))

configure: deps
	cmake --preset $(PRESET) >/dev/null

build: configure
	cmake --build --preset $(PRESET)

run: build
	$(LAUNCH_$(PRESET)) tools/run-suite.sh $(BUILD)

test: build
	ctest --preset $(PRESET)

test-asan:
	$(MAKE) test PRESET=asan

test-tsan:
	$(MAKE) test PRESET=tsan

# Benchmarks measure the optimised build, whatever PRESET says.
bench: deps
	cmake --preset release >/dev/null
	cmake --build --preset release
	tools/run-bench.sh build/release

# Plants each fault of tools/mutants.txt in a scratch copy and reports which the tests catch
# (MUTANTS="name ..." tries only those).
mutate: deps
	tools/mutate.sh $(MUTANTS)

# Every fuzz target for FUZZ_SECONDS each (clang, libFuzzer, address and undefined sanitizers).
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz
	tests/fuzz/run.sh build/fuzz $(FUZZ_SECONDS)

# A long fault campaign on the simulated board (SOAK_MINUTES, an hour by default), with a random
# seed that it prints; ends with its figures: runs, schedules, faults injected, invariant failures.
# The sanitizer settings let a sanitized program (PRESET=asan) run with the board library preloaded.
SOAK_MINUTES ?= 60
SOAK_JOBS ?= 3
soak: build
	cmake --install $(BUILD) --prefix $(BUILD)/installed >/dev/null
	ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(BUILD)/tests/campaign/campaign --random-seed --minutes $(SOAK_MINUTES) --long --jobs $(SOAK_JOBS)

# Debian packages of the preset's target into out/packages/ (a release build of its own, installing
# into Debian's places without RPATH), each checked by lintian.
package: deps
	packaging/make-packages.sh $(PRESET)

# A bootable arm64 image of the board (build/image: kernel, initramfs, ext4 disk) with the suite's
# arm64 packages (made first when out/packages has none) and the kernel board module, on the arm64
# root in ARM64_ROOT (made there when missing, kept); `make vmtest` boots it under
# qemu-system-aarch64 and tests the running system, with the host build's judge and preloaded board
# for reference (docs/image.md).
# The image's root (the kernel and the extra packages) is make-image.sh's to keep, as it depends on
# the kernel the archive offers; its disk is made again when the root or one of these files changed.
ARM64_ROOT ?= build/arm64-root
IMAGE_INPUTS = $(wildcard out/packages/*_arm64.deb) $(wildcard packaging/vm/*) packaging/lava/board-setup.sh \
  tests/lib/testlib.sh $(shell kernel/layout.sh --sources) $(wildcard kernel/tests/*)
image:
	@tools/install-deps.sh tools/packages-cross.txt tools/packages-kernel.txt tools/packages-vm.txt
	@[ -n "$(wildcard out/packages/*_arm64.deb)" ] || $(MAKE) package PRESET=aarch64
	packaging/vm/make-image.sh root $(ARM64_ROOT)
	@$(MAKE) build/image/disk.ext4

build/image/disk.ext4: build/image/root.stamp $(IMAGE_INPUTS)
	packaging/vm/make-image.sh disk

vmtest: image build
	packaging/vm/vmtest.sh $(VMTEST_ONLY)

# The board farm's job (packaging/lava/board-image-job.yaml) run on that image by Debian's LAVA
# dispatcher (lava-run, no server), on the good and on a failing kernel board; LAVA's results are
# checked against the results.json bringup-check wrote in the guest (docs/lava.md). The job takes
# the test definition from this repository's last commit.
lava: image
	@tools/install-deps.sh tools/packages-lava.txt
	cmake --build --preset $(PRESET) --target bringup-check
	packaging/lava/run-jobs.py --checker $(BUILD)/bin/bringup-check $(LAVA_BOARDS)

# A board farm of our own on this machine (docs/farm.md): LAVA's server and two workers from
# Debian's packages, the boards of packaging/farm/boards.conf as devices, each made what it is by its
# own dictionary; their health checks (a broken board taken offline), one job on each board at once
# and FARM_QUEUE jobs for any board (more jobs than boards: bringup-check on audio and USB only),
# submitted and read back through the server's REST API by bringup-farm; the lab stopped at the end.
# FARM_IMAGE names a board image made elsewhere (made here when it is build/image).
FARM_IMAGE ?= build/image
FARM_BOARDS ?= 3
FARM_QUEUE ?= 5
farm: configure
	@[ "$(FARM_IMAGE)" != build/image ] || $(MAKE) image
	cmake --build --preset $(PRESET) --target bringup-farm
	FARM_IMAGE=$(abspath $(FARM_IMAGE)) packaging/farm/run-farm.py --tool $(BUILD)/bin/bringup-farm \
	  --boards $(FARM_BOARDS) --queue $(FARM_QUEUE) --broken --queue-args "--switch --only audio,usb"

# The kernel board module measured by the kernel's own checkers (checkpatch --strict, W=1, sparse)
# against Debian's amd64 kernel headers; fails on any finding (docs/kernel-board.md).
klint:
	@tools/install-deps.sh tools/packages-kernel.txt
	kernel/tests/lint.sh

clean:
	rm -rf build
