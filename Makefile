# The jobs of the README: `make run`, `make test` and `make bench`.
# Everything goes through the CMake presets `host` (the PC) and `mipsel`
# (the receiver).

JOBS ?= 2
# What `make run` needs of each build: the installer TAP and the stand-in.
RUN_TARGETS := Zephyrdesk-Install tapemu
# Timed runs of each contestant in `make bench`.
BENCH_RUNS ?= 5

.PHONY: all deps configure build test run bench clean

all: build

deps:
	@sh tools/install-deps.sh

configure: deps
	cmake --preset host >/dev/null
	cmake --preset mipsel >/dev/null

build: configure
	cmake --build --preset host -j$(JOBS) -- --no-print-directory
	cmake --build --preset mipsel -j$(JOBS) -- --no-print-directory

test: build
	ctest --preset host -j$(JOBS)
	ctest --preset mipsel -j$(JOBS)

run: configure
	cmake --build --preset host -j$(JOBS) --target $(RUN_TARGETS) -- --no-print-directory
	cmake --build --preset mipsel -j$(JOBS) --target $(RUN_TARGETS) -- --no-print-directory
	@sh tools/run-installer.sh

bench: configure
	@sh tools/install-deps.sh bench
	cmake --build --preset host -j$(JOBS) --target $(RUN_TARGETS) tappack -- --no-print-directory
	cmake --build --preset mipsel -j$(JOBS) --target $(RUN_TARGETS) -- --no-print-directory
	python3 tools/bench.py --runs $(BENCH_RUNS)

clean:
	rm -rf build
