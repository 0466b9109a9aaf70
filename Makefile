# Thin wrapper over CMake: `make run` builds and runs the bundled example,
# `make test` builds and runs every test.
BUILD ?= build
EXAMPLE ?= examples/yeast_chr1_FLO1_204225-206500_p135.txt
CMAKE_FLAGS ?=

.PHONY: all build run test clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j 2

run: build
	./$(BUILD)/tandemtree $(EXAMPLE) N 3

test: build
	cd $(BUILD) && ctest --output-on-failure

clean:
	rm -rf $(BUILD)
