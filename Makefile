# The two commands a newcomer needs:
#   make run    install dependencies, build, start Pealix
#   make test   install dependencies, build, run every test
#   make package  build the Debian package build/pealix_<version>_<arch>.deb
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: run test package build configure deps clean

run: build
	$(BUILD_DIR)/src/app/pealix

test: build
	scripts/run-tests.sh $(BUILD_DIR)

package: build
	cmake --build $(BUILD_DIR) --target package

build: configure
	cmake --build $(BUILD_DIR) --parallel $(JOBS)

# The package installs under /usr, and the program knows where its files are
# installed, so build/ is configured for that prefix.
configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_INSTALL_PREFIX=/usr

deps:
	scripts/install-deps.sh

clean:
	rm -rf $(BUILD_DIR)
