# Thin wrapper over CMake: `make run` builds the tool and runs it on the
# bundled example, `make test` builds and runs every test. Both first install
# what is missing (tools/prerequisites.sh: apt-get as root, else the one line
# to run).
BUILD ?= build
EXAMPLE ?= examples/yeast_chr1_FLO1_204225-206500_p135.txt
CMAKE_FLAGS ?=

.PHONY: all build configure prerequisites test-prerequisites run test clean

all: build

prerequisites:
	@tools/prerequisites.sh build

test-prerequisites:
	@tools/prerequisites.sh test

# A build folder is configured again whenever its configure command differs
# from the one it was last configured with, so that CMAKE_FLAGS always takes
# effect: $(call configure_once,FOLDER,COMMAND)
configure_once = if [ ! -f $(1)/CMakeCache.txt ] || [ "$$(cat $(1)/.configured-with 2>/dev/null)" != '$(2)' ]; \
  then $(2) && echo '$(2)' > $(1)/.configured-with; fi

configure: prerequisites
	@$(call configure_once,$(BUILD),cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS))

# Everything: the tool, the tests and the benchmarks.
build: configure
	cmake --build $(BUILD) -j 2

run: configure
	cmake --build $(BUILD) -j 2 --target tandemtree
	./$(BUILD)/tandemtree $(EXAMPLE) N 3

# The tests need GoogleTest; without it the build has no test binary and the
# test run says so instead of passing on the few tests that need nothing.
test: test-prerequisites configure
	@cmake $(BUILD) >/dev/null  # a build folder older than the test_programs target learns it
	cmake --build $(BUILD) -j 2 --target test_programs
	@test -x $(BUILD)/tests/tandemtree_tests || { \
	  echo "The tests were not built: GoogleTest is missing (Debian: apt-get install libgtest-dev)"; exit 1; }
	cd $(BUILD) && ctest -j 2 --output-on-failure

clean:
	rm -rf $(BUILD)

# Every C++ source in the committed .clang-format style: `make format` applies
# it, `make format-check` (run by CI) fails on any source that differs.
SOURCES = git ls-files '*.h' '*.cpp' '*.h.in'

.PHONY: format format-check

format:
	$(SOURCES) | xargs clang-format -i

format-check:
	$(SOURCES) | xargs clang-format --dry-run -Werror

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer
# (clang), and a bounded, repeatable run of the fuzzer over the whole
# pipeline: a fixed seed and a fixed number of inputs, starting from the kept
# corpus. FUZZ_SECONDS caps the time on a slow machine.
SAN_BUILD ?= build-sanitize
FUZZ_RUNS ?= 200000
FUZZ_SEED ?= 20261209
FUZZ_SECONDS ?= 120

.PHONY: sanitize-build test-sanitize fuzz fuzz-merge

sanitize-build:
	@$(call configure_once,$(SAN_BUILD),cmake -S . -B $(SAN_BUILD) -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTANDEMTREE_SANITIZE=ON -DTANDEMTREE_FUZZ=ON \
	  -DTANDEMTREE_BUILD_BENCH=OFF $(CMAKE_FLAGS))
	cmake --build $(SAN_BUILD) -j 2

test-sanitize: sanitize-build
	cd $(SAN_BUILD) && ctest -j 2 --output-on-failure

fuzz: sanitize-build
	corpus=$$(mktemp -d) && ./$(SAN_BUILD)/fuzz_sequence_file -seed=$(FUZZ_SEED) -runs=$(FUZZ_RUNS) \
	  -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -print_final_stats=1 -artifact_prefix=$(SAN_BUILD)/fuzz- \
	  $$corpus tests/fuzz/corpus; status=$$?; rm -rf $$corpus; exit $$status

# Folds what a longer fuzz run found into the kept corpus, keeping only the
# inputs that add coverage: make fuzz-merge FUZZ_MERGE_FROM=folder
fuzz-merge: sanitize-build
	./$(SAN_BUILD)/fuzz_sequence_file -merge=1 tests/fuzz/corpus $(FUZZ_MERGE_FROM)
