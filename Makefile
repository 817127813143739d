# Wraps CMake so that one command sets up, builds and runs Zuv, and one builds and runs every test.
JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
TEST_DIR := build/test
ARGS ?=

.PHONY: run build test test-build fuzz fuzz-ci clean

run: build
	./$(RELEASE_DIR)/zuv $(ARGS)

build:
	scripts/setup.sh build
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZUV_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j $(JOBS)
	ln -sf release/zuv build/zuv
	ln -sf release/zuv-test build/zuv-test

test-build:
	scripts/setup.sh test
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZUV_SANITIZE=ON -DZUV_TESTS=ON
	cmake --build $(TEST_DIR) -j $(JOBS)

test: test-build
	cd $(TEST_DIR) && ctest --output-on-failure -j $(JOBS)

# The fuzz targets (tests/fuzz): a short run of each, as CI does, or FUZZ_SECONDS each by hand.
FUZZ_SECONDS ?= 600
fuzz-ci:
	JOBS=$(JOBS) tests/fuzz/run.sh 10

fuzz:
	JOBS=$(JOBS) tests/fuzz/run.sh $(FUZZ_SECONDS) $(FUZZ_TARGETS)

clean:
	rm -rf build
