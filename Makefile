# The two commands a newcomer needs:
#   make run    install dependencies, build, start Pealix
#   make test   install dependencies, build, run every test
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: run test build configure deps clean

run: build
	$(BUILD_DIR)/src/app/pealix

test: build
	scripts/run-tests.sh $(BUILD_DIR)

build: configure
	cmake --build $(BUILD_DIR) --parallel $(JOBS)

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

deps:
	scripts/install-deps.sh

clean:
	rm -rf $(BUILD_DIR)
