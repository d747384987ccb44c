# The jobs of the README: `make run`, `make test`, `make fuzz` and `make
# bench`.  Everything goes through the CMake presets `host` (the PC) and
# `mipsel` (the receiver), and `fuzz` (the fuzz targets, with clang).

JOBS ?= 2
# What `make run` needs of each build: the installer TAP and the stand-in.
RUN_TARGETS := Zephyrdesk-Install tapemu
# Timed runs of each contestant in `make bench`.
BENCH_RUNS ?= 5

# How long `make fuzz` runs each fuzz target, and how long `make test` does.
FUZZ_SECONDS ?= 60
FUZZ_TEST_SECONDS := 3

.PHONY: all deps configure build test run fuzz fuzz-build bench clean

all: build

deps:
	@sh tools/install-deps.sh

configure: deps
	cmake --preset host >/dev/null
	cmake --preset mipsel >/dev/null

build: configure
	cmake --build --preset host -j$(JOBS) -- --no-print-directory
	cmake --build --preset mipsel -j$(JOBS) -- --no-print-directory

test: build fuzz-build
	ctest --preset host -j$(JOBS)
	ctest --preset mipsel -j$(JOBS)
	FUZZ_SECONDS=$(FUZZ_TEST_SECONDS) sh tools/run-fuzz.sh

fuzz-build: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j$(JOBS) --target fuzz_all -- --no-print-directory

fuzz: fuzz-build
	FUZZ_SECONDS=$(FUZZ_SECONDS) sh tools/run-fuzz.sh

run: configure
	cmake --build --preset host -j$(JOBS) --target $(RUN_TARGETS) -- --no-print-directory
	cmake --build --preset mipsel -j$(JOBS) --target $(RUN_TARGETS) -- --no-print-directory
	@sh tools/run-installer.sh

bench: configure
	@sh tools/install-deps.sh bench
	cmake --build --preset host -j$(JOBS) --target $(RUN_TARGETS) tappack crctime -- --no-print-directory
	cmake --build --preset mipsel -j$(JOBS) --target $(RUN_TARGETS) crctime -- --no-print-directory
	python3 tools/bench.py --runs $(BENCH_RUNS)

clean:
	rm -rf build
