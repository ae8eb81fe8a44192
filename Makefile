# SPDX-License-Identifier: GPL-3.0-or-later
# The two set-up commands of the README. Both install what is missing first.
BUILD ?= build
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)
# Extra ctest options, e.g. CTEST_ARGS="--repeat until-fail:3" to catch flaky tests.
CTEST_ARGS ?=

.PHONY: deps build run test bench package clean

deps:
	bash scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -x $(BUILD)/morvane ]; then $(BUILD)/morvane; else $(BUILD)/morvane-cli --help; fi

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

bench: build
	bash bench/run

# morvane_<version>_<arch>.deb in $(BUILD); install it with apt install ./<file>.
package: build
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD)
