# SPDX-License-Identifier: GPL-3.0-or-later
# The two set-up commands of the README. Both install what is missing first.
BUILD ?= build
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)
# Extra ctest options, e.g. CTEST_ARGS="--repeat until-fail:3" to catch flaky tests.
CTEST_ARGS ?=

.PHONY: help deps build run test bench package clean

# `make` alone says what it can do.
help:
	@echo "make run      install what is missing, build into $(BUILD)/, start the window"
	@echo "make test     install what is missing, build, run every test"
	@echo "make bench    build, then time the tool against the ffmpeg program"
	@echo "make package  build the Debian packages (no tests) into $(BUILD)/; see README.md"
	@echo "make clean    remove $(BUILD)/ and the package build's folders"

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

# The Debian source and binary packages, built by dpkg-buildpackage from
# debian/ in a build of their own without tests or benchmarks (make test runs
# those), then moved from the parent folder, where dpkg-buildpackage leaves
# them, into $(BUILD): morvane_<version>_<arch>.deb, morvane_<version>.dsc ...
# Install the .deb with apt install ./<file>.
VERSION = $(shell dpkg-parsechangelog -S Version 2>/dev/null)
LAUNCHER = $(if $(shell command -v ccache),CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache)
package: deps
	$(LAUNCHER) DEB_BUILD_OPTIONS="nocheck parallel=$(JOBS)" dpkg-buildpackage -us -uc
	mkdir -p $(BUILD)
	mv ../morvane_$(VERSION)* ../morvane-dbgsym_$(VERSION)_* $(BUILD)/

clean:
	rm -rf $(BUILD) obj-*-linux-gnu* debian/morvane debian/.debhelper debian/files debian/*.substvars \
	  debian/debhelper-build-stamp debian/*.debhelper.log debian/tmp
