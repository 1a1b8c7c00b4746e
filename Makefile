BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
# ON makes every compiler warning an error (.ci/run); OFF by default, so a newer compiler's new
# warning never stops a build from source. Applied to a folder configured before as well.
WERROR     ?= OFF
werror = cmake -S . -B $(1) -DTESSYN_WERROR=$(WERROR) > /dev/null

.PHONY: deps configure build test test-asan fuzz bench run install clean

deps:
	@scripts/install-deps.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS)

configure: $(BUILD)/build.ninja

build: deps configure
	$(call werror,$(BUILD))
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSYN_SANITIZE=ON

test-asan: deps $(ASAN_BUILD)/build.ninja
	$(call werror,$(ASAN_BUILD))
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS)

# libFuzzer targets, built by clang in their own folder so the ordinary build stays gcc.
$(FUZZ_BUILD)/build.ninja:
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DTESSYN_FUZZ=ON

fuzz: deps $(FUZZ_BUILD)/build.ninja
	$(call werror,$(FUZZ_BUILD))
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	scripts/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: build
	bench/compare-scan.sh

run: build
	@if [ -x $(BUILD)/tessyn ]; then $(BUILD)/tessyn; else echo "The window is not built yet."; exit 1; fi

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
