# The two commands: `make run` and `make test`. Both install what is missing.
# On a bare system, where make itself is missing, `./make run` and
# `./make test` install it first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: run test build bench package deps configure clean

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	$(BUILD)/velmora

# Desktops have a session bus and CI has none: the engine tests run once more
# under one of their own.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)
	dbus-run-session -- ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS) -R '^engine_'

bench: build
	$(BUILD)/bench/velmora-bench

# velmora_<version>_amd64.deb in $(BUILD)
package: build
	cd $(BUILD) && cpack

clean:
	rm -rf $(BUILD)
