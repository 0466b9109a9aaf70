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
	cd $(BUILD) && ctest -j 2 --output-on-failure

clean:
	rm -rf $(BUILD)

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer
# (clang), and a short run of the fuzzer over the whole pipeline.
SAN_BUILD ?= build-sanitize
FUZZ_SECONDS ?= 60

.PHONY: sanitize-build test-sanitize fuzz

$(SAN_BUILD)/CMakeCache.txt:
	CXX=clang++ cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTANDEMTREE_SANITIZE=ON -DTANDEMTREE_FUZZ=ON -DTANDEMTREE_BUILD_BENCH=OFF

sanitize-build: $(SAN_BUILD)/CMakeCache.txt
	cmake --build $(SAN_BUILD) -j 2

test-sanitize: sanitize-build
	cd $(SAN_BUILD) && ctest -j 2 --output-on-failure

fuzz: sanitize-build
	corpus=$$(mktemp -d) && ./$(SAN_BUILD)/tests/fuzz_sequence_file -max_total_time=$(FUZZ_SECONDS) \
	  -max_len=4096 -print_final_stats=1 -artifact_prefix=$(SAN_BUILD)/fuzz- \
	  $$corpus examples tests/data/regress; status=$$?; rm -rf $$corpus; exit $$status
