# The set-up commands of the README:
#   make run      installs what is missing, builds and starts Quillbend
#   make test     installs what is missing, builds and runs every test
#   make package  installs what is missing, builds and makes the Debian package
# They work as root on a fresh Debian 12 machine (or with sudo).

BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: deps build run test test-release test-asan test-tsan test-fuzz fuzz bench package clean

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_BUILD_BENCH=ON $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@bash scripts/run.sh $(BUILD)

test: deps test-release test-asan test-fuzz

# The benchmarks are built by `make bench`, not here.
test-release:
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_BUILD_BENCH=OFF -DQB_WERROR=$${CI:+ON} $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@bash scripts/run-tests.sh $(BUILD)

# The core tests once more under AddressSanitizer and UndefinedBehaviorSanitizer,
# built with clang together with the fuzz targets, which share its libraries;
# with them the window's hand-over, add-feed dialog and background exit,
# built from Qt Widgets alone (no web engine), and the sync against the real
# FreshRSS, whose answers are parsed on the download pool's threads.
test-asan:
	@grep -qs 'CMAKE_CXX_COMPILER:[A-Z]*=.*clang' $(ASAN_BUILD)/CMakeCache.txt || rm -rf $(ASAN_BUILD)
	@CC=clang CXX=clang++ cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_SANITIZE=ON -DQB_FUZZ=ON -DBUILD_TESTING=ON -DQB_BUILD_GUI=OFF -DQB_BUILD_BENCH=OFF -DQB_WERROR=$${CI:+ON} $(CMAKE_ARGS) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L 'core|widgets|freshrss'

# The core tests under ThreadSanitizer (the download pool, the executor, the
# update engine, the icon cache, the background saves). A third build of
# the core, so not part of `make test`: run it after changing threaded code.
test-tsan: deps
	@grep -qs 'CMAKE_CXX_COMPILER:[A-Z]*=.*clang' $(TSAN_BUILD)/CMakeCache.txt || rm -rf $(TSAN_BUILD)
	@CC=clang CXX=clang++ cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQB_TSAN=ON -DBUILD_TESTING=ON -DQB_BUILD_GUI=OFF -DQB_BUILD_BENCH=OFF -DQB_WERROR=$${CI:+ON} $(CMAKE_ARGS) >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target quillbend_core_tests
	@cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1 QB_KILLED_SAVE_ROUNDS=1 ctest --output-on-failure -j $(JOBS) -L core

# Every fuzz target for a short while, so a regression is caught.
# (The normal tests already kill a few saves; a handful more here.)
test-fuzz:
	@FUZZ_BUILD=$(ASAN_BUILD) QB_KILLED_SAVE_ROUNDS=5 bash scripts/fuzz.sh 20

# Every fuzz target for FUZZ_SECONDS each (default 60).
FUZZ_SECONDS ?= 60
fuzz: deps
	@bash scripts/fuzz.sh $(FUZZ_SECONDS)

bench: build
	@for b in $(BUILD)/bench/*Bench; do echo "== $$b"; $$b; done

# $(BUILD)/quillbend_VERSION_ARCH.deb, with the dependencies dpkg-shlibdeps
# finds, checked as the package test checks it; the packaging it passed with
# is recorded in tests/install/package-checked.sha256, so that `make test`
# makes the package again only once the packaging has changed.
package: build
	@cd $(BUILD) && QB_PACKAGE_OUT=$$PWD ctest -R '^install_deb_package$$' --output-on-failure
	@ls $(BUILD)/quillbend_*.deb

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) build-fuzz
