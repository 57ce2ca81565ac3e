# SPDX-License-Identifier: GPL-3.0-or-later
# Thin wrapper over CMake: `make run` and `make test` are the two commands of the README.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)
# Most tests wait on sockets and timers rather than the processor: twice as
# many at once as there are cores halves the wall time.
TEST_JOBS ?= $(shell echo $$(( $$(nproc) * 2 )))

.PHONY: deps configure build run test sim clean

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	./$(BUILD_DIR)/bin/tavrin

sim: build
	./$(BUILD_DIR)/bin/tavrin-phone-sim $(SIM_ARGS)

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen QT_QUICK_BACKEND=software \
		ctest --output-on-failure -j $(TEST_JOBS)

clean:
	rm -rf $(BUILD_DIR)
