# The two commands a newcomer needs:
#   make run    install dependencies, build, start Pealix
#   make test   install dependencies, build, run every test: the suite, a short
#               run of every fuzz target, and the suite again under
#               AddressSanitizer and UndefinedBehaviorSanitizer
#   make package  build the Debian package build/pealix_<version>_<arch>.deb
#   make demo   Pealix in a simulated house of Sonos players and Cast devices
# And one for a longer look at the parsers:
#   make fuzz   run every fuzz target for FUZZ_SECONDS (default 600) each,
#               keeping what it finds new in $(FUZZ_DIR)/corpus
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
FUZZ_DIR ?= build-fuzz
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 600
FUZZ_SMOKE_SECONDS ?= 10

.PHONY: run test package demo build configure build-asan build-fuzz fuzz deps clean

run: build
	$(BUILD_DIR)/src/app/pealix

test: build build-asan build-fuzz
	scripts/run-tests.sh $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR) $(FUZZ_SMOKE_SECONDS)

# A house of speakers that are not there (tools/houses/demo.json), with Pealix
# inside it on your desktop; Ctrl+C ends both. See README, Try it without speakers.
demo: build
	tools/demo.sh $(BUILD_DIR)

package: build
	cmake --build $(BUILD_DIR) --target package

build: configure
	cmake --build $(BUILD_DIR) --parallel $(JOBS)

# The package installs under /usr, and the program knows where its files are
# installed, so build/ is configured for that prefix.
configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_INSTALL_PREFIX=/usr

# The whole suite with the sanitizers, in a folder of its own (optimised a
# little: the sanitizers slow the code down, optimisation the build). -g1 keeps
# the file and line of every frame in a sanitizer's report and leaves out the
# variables and types, which nobody reads there and which cost build time.
build-asan: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-g1 -O1" \
	      -DPEALIX_SANITIZE=ON -DPEALIX_BUILD_TOOLS=OFF
	cmake --build $(ASAN_DIR) --parallel $(JOBS)

# The fuzz targets need clang's libFuzzer; the normal build stays with g++.
# Line tables are all a finding's stack trace needs.
build-fuzz: deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" \
	      -DPEALIX_FUZZ=ON -DPEALIX_BUILD_TOOLS=OFF
	cmake --build $(FUZZ_DIR) --parallel $(JOBS) --target fuzzers

fuzz: build-fuzz
	scripts/fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS) keep

deps:
	scripts/install-deps.sh

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR)
