# Thin wrapper around CMake; see README.md.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
COVERAGE_BUILD ?= build-coverage
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 60
SAMPLE     ?= examples/sample.avi
PREFIX     ?= /usr/local

.PHONY: all build run install test test-plain test-asan fuzz coverage clean

all: build

build:
	cmake -S . -B $(BUILD) -DCLIPSMITH_WERROR=ON >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/clipsmith $(SAMPLE)

# The executable to $(PREFIX)/bin, the manual page to $(PREFIX)/share/man/man1.
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

test: test-plain test-asan

test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DCLIPSMITH_WERROR=ON -DCLIPSMITH_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# The fuzzer is seeded with the samples, tests/data and every file the test
# suite builds (kept by the suite when CLIPSMITH_SEED_DIR is set). A single
# allocation over 64 MB or a run over 5 s counts as a finding.
fuzz: build
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCLIPSMITH_FUZZ=ON -DCLIPSMITH_TESTS=OFF \
	  -DCLIPSMITH_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target clipsmith_fuzz
	mkdir -p $(FUZZ_BUILD)/corpus $(FUZZ_BUILD)/seeds
	CLIPSMITH_SEED_DIR=$(abspath $(FUZZ_BUILD)/seeds) ./$(BUILD)/clipsmith_tests >/dev/null 2>&1 || true
	./$(FUZZ_BUILD)/clipsmith_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=65536 -timeout=5 \
	  -malloc_limit_mb=64 -rss_limit_mb=2048 -dict=fuzz/formats.dict -artifact_prefix=$(FUZZ_BUILD)/ \
	  $(FUZZ_BUILD)/corpus $(FUZZ_BUILD)/seeds examples tests/data

# Line and branch coverage of src/ by the plain suite (needs gcovr).
coverage:
	@command -v gcovr >/dev/null || { echo "make coverage needs gcovr (apt-get install gcovr)"; exit 2; }
	cmake -S . -B $(COVERAGE_BUILD) -DCLIPSMITH_COVERAGE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build $(COVERAGE_BUILD) -j $(JOBS)
	find $(COVERAGE_BUILD) -name '*.gcda' -delete
	cd $(COVERAGE_BUILD) && ctest -j $(JOBS) >/dev/null || true
	gcovr --root . --filter 'src/' --exclude 'src/app/main.cpp' --exclude-throw-branches \
	  --exclude-unreachable-branches --print-summary \
	  --txt $(COVERAGE_BUILD)/coverage.txt $(COVERAGE_BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(COVERAGE_BUILD)
