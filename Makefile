# The two commands: `make run` shows the suite on the simulated board, `make test` runs every test.
PRESET ?= dev
BUILD  := build/$(PRESET)
MAKEFLAGS += --no-print-directory
# The aarch64 preset needs the cross packages and runs its arm64 programs under qemu-user, pinned
# to one CPU (docs/cross.md).
DEPS_aarch64 := tools/packages-cross.txt
LAUNCH_aarch64 := cmake/qemu-aarch64.sh --pin

.PHONY: all deps configure build run test test-asan test-tsan bench clean

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

bench: build
	tools/run-bench.sh $(BUILD)

clean:
	rm -rf build
