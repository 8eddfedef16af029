# The two commands a newcomer needs are `make test` and `make demo`; everything they need is
# installed by scripts/install-deps on a fresh Debian machine.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
FUZZ_SECONDS ?= 10

.PHONY: all deps configure build test test-asan test-tsan fuzz-smoke bench demo format clean

all: build

deps:
	scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 900

# The unit tests under AddressSanitizer and UndefinedBehaviorSanitizer, then the program itself
# over the demo's ODBC data source with leak checking on (scripts/asan-odbc).
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DKW_SANITIZE=ON -DKW_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS) -L unit
	scripts/asan-odbc $(ASAN_BUILD)

# ThreadSanitizer over the tests of the server connections (attempt and probe threads, late
# threads after their owner is gone, transports cancelled from another thread) and of the
# internet library against its peers (the Telnet client's read thread answering the server
# while the caller writes, against a real telnetd too).
TSAN_TESTS ?= kw_tests_transfer kw_tests_transfer_peer kw_tests_pki kw_tests_net_peer

test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DKW_TSAN=ON -DKW_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TESTS)
	@set -e; for t in $(TSAN_TESTS); do \
	  echo "test-tsan: $$t"; \
	  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 $$TSAN_OPTIONS" $(TSAN_BUILD)/tests/$$t --gtest_brief=1; \
	done

# Each target runs with the libFuzzer flags of fuzz/<target>.options when there is one (one flag
# a line, "#" starts a comment): a -max_len that fits the target's real inputs, which are often
# far longer than libFuzzer's default of 4 KB.
fuzz-smoke: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DKW_FUZZ=ON -DKW_TESTS=OFF -DKW_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@set -e; for f in $(FUZZ_BUILD)/fuzz/fuzz_*; do \
	  n=$$(basename $$f); n=$${n#fuzz_}; mkdir -p $(FUZZ_BUILD)/corpus/$$n; \
	  echo "fuzz-smoke: $$n"; seeds=fuzz/corpus/$$n; [ -d $$seeds ] || seeds=; \
	  opts=; [ ! -f fuzz/$$n.options ] || opts=$$(sed -e 's/#.*//' fuzz/$$n.options); \
	  if ! $$f -max_total_time=$(FUZZ_SECONDS) $$opts $(FUZZ_BUILD)/corpus/$$n $$seeds > $(FUZZ_BUILD)/fuzz-$$n.log 2>&1; then \
	    tail -n 40 $(FUZZ_BUILD)/fuzz-$$n.log; echo "fuzz-smoke: $$n failed"; exit 1; fi; \
	  tail -n 1 $(FUZZ_BUILD)/fuzz-$$n.log; \
	done

demo: build
	BUILD=$(BUILD) scripts/demo

bench: build
	@for s in bench/compare-*; do [ -x "$$s" ] && BUILD=$(BUILD) "$$s"; done; true

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
