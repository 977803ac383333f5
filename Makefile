# The two commands: `make run` and `make test`. Both install what is missing.
# On a bare system, where make itself is missing, `./make run` and
# `./make test` install it first.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

# The sanitizer and fuzz builds live in folders of their own.
SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
# Seconds each fuzz target runs; CI runs them for 30.
FUZZ_SECONDS ?= 600

.PHONY: run test build bench package deps configure clean test-sanitize fuzz format

deps:
	scripts/install-deps

# make build runs install-deps again only once the script has changed: the
# stamp is named for its checksum. make deps checks the packages anyway.
DEPS_STAMP := $(BUILD)/install-deps-$(firstword $(shell cksum scripts/install-deps)).stamp
$(DEPS_STAMP):
	scripts/install-deps
	mkdir -p $(@D)
	rm -f $(BUILD)/install-deps-*.stamp
	touch $@

# make build configures a build folder once; CMake itself configures again
# when a CMakeLists.txt changes. make configure applies new CMAKE_FLAGS.
configure: $(DEPS_STAMP)
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

$(BUILD)/CMakeCache.txt: | $(DEPS_STAMP)
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(DEPS_STAMP) $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

run: build
	$(BUILD)/velmora

# Desktops have a session bus and CI has none: the tests of what Chromium
# gets of the desktop session (label dbus) run once more under one of their own.
test: build
	scripts/check-format
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)
	dbus-run-session -- ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS) -L '^dbus$$'
	# As root Chromium runs without its sandbox: the tests of the engine and
	# of the window run once more as an ordinary account, as desktops run them.
	scripts/install-deps test
	scripts/as-unprivileged $(BUILD) ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS) -L '^(engine|e2e)$$'

# Writes every C++ file as .clang-format says; make test fails otherwise.
format:
	scripts/check-format --fix

bench: build
	$(BUILD)/bench/velmora-bench

# velmora_<version>_amd64.deb in $(BUILD)
package: build
	cd $(BUILD) && cpack

# Every test again, built with ASan and UBSan (-O1 with Qt's and our
# assertions on); any sanitizer report fails.
test-sanitize: $(DEPS_STAMP)
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DVELMORA_SANITIZE=ON
	cmake --build $(SANITIZE_BUILD) -j$(JOBS)
	ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j$(JOBS)

# The libFuzzer targets (clang, ASan and UBSan), each run for FUZZ_SECONDS
# from the seeds in tests/fuzz/corpus.
fuzz:
	scripts/install-deps fuzz
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j$(JOBS)
	tests/fuzz/run $(FUZZ_BUILD)/tests/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD)
