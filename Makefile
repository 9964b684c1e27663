# The two commands: `make run` shows the suite on the simulated board, `make test` runs every test.
PRESET ?= dev
BUILD  := build/$(PRESET)
MAKEFLAGS += --no-print-directory

.PHONY: all deps configure build run test test-asan test-tsan bench mutate clean

all: build

deps:
	@tools/install-deps.sh

configure: deps
	cmake --preset $(PRESET) >/dev/null

build: configure
	cmake --build --preset $(PRESET)

run: build
	tools/run-suite.sh $(BUILD)

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

clean:
	rm -rf build
