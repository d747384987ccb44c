# The two jobs of the README: `make run` and `make test`.  Everything goes
# through the CMake presets `host` (the PC) and `mipsel` (the receiver).

JOBS ?= 2

.PHONY: all deps build host mipsel test run clean

all: build

deps:
	@sh tools/install-deps.sh

host: deps
	cmake --preset host >/dev/null
	cmake --build --preset host -j$(JOBS)

mipsel: deps
	cmake --preset mipsel >/dev/null
	cmake --build --preset mipsel -j$(JOBS)

build: host mipsel

test: build
	ctest --preset host -j$(JOBS)
	ctest --preset mipsel -j$(JOBS)

run: build
	@sh tools/run-installer.sh

clean:
	rm -rf build
