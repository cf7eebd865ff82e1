# The two commands of the README, and the sanitizer variants of the tests.
# Each starts with scripts/setup, so it works alone on a fresh Debian 12 machine.
.PHONY: test run test-asan test-tsan build clean

JOBS ?= $(shell nproc)

build:
	scripts/setup

test:
	scripts/setup
	ctest --test-dir build --output-on-failure -j$(JOBS)

run:
	scripts/setup
	scripts/run

test-asan:
	BUILD_DIR=build-asan CMAKE_ARGS="-DREELPRESS_ASAN=ON -DCMAKE_BUILD_TYPE=Debug" scripts/setup
	ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp ctest --test-dir build-asan --output-on-failure -j$(JOBS)

test-tsan:
	BUILD_DIR=build-tsan CMAKE_ARGS="-DREELPRESS_TSAN=ON -DCMAKE_BUILD_TYPE=Debug" scripts/setup
	ctest --test-dir build-tsan --output-on-failure -j$(JOBS)

clean:
	rm -rf build build-asan build-tsan
