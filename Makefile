# The README's commands. `make run` builds and runs the tour; `make test` builds and passes
# every test: the Linux build, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, the stress and load tests under ThreadSanitizer, the Windows DLL, and the
# Windows build under Wine.
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
# The two Windows DLLs: x86 in build-win, x64 in build-win64.
WIN_BUILD ?= build-win
WIN64_BUILD ?= $(WIN_BUILD)64
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 30
ZFUZZ_SECONDS ?= 20
TDSFUZZ_SECONDS ?= 20

.PHONY: deps deps-wine build run test test-linux test-asan test-tsan windows check-windows \
	test-wine dist fuzz bench clean format FORCE

# The package installer runs once for each content of scripts/install-deps.sh: a stamp named
# for the script's hash records that it has run to its end. `make deps` runs it regardless.
DEPS_HASH := $(shell sha256sum scripts/install-deps.sh | cut -c1-16)
DEPS_STAMP := .deps/installed-$(DEPS_HASH)
DEPS_WINE_STAMP := .deps/installed-wine-$(DEPS_HASH)

deps:
	scripts/install-deps.sh
	@mkdir -p .deps && touch $(DEPS_STAMP)

deps-wine:
	scripts/install-deps.sh --wine
	@mkdir -p .deps && touch $(DEPS_STAMP) $(DEPS_WINE_STAMP)

$(DEPS_STAMP):
	scripts/install-deps.sh
	@mkdir -p .deps && touch $@

$(DEPS_WINE_STAMP):
	scripts/install-deps.sh --wine
	@mkdir -p .deps && touch $@ $(DEPS_STAMP)

# A build folder's record of CMAKE_FLAGS, rewritten only when they change, so that a folder is
# configured again when the flags differ from those it was configured with.
%/cmake-flags: FORCE
	@mkdir -p $*
	@echo '$(CMAKE_FLAGS)' | cmp -s - $@ 2>/dev/null || echo '$(CMAKE_FLAGS)' > $@

$(BUILD)/build.ninja: $(BUILD)/cmake-flags | $(DEPS_STAMP)
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)
	@touch $@

build: $(DEPS_STAMP) $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# The tour needs the module, the host and the libraries they load, not the tests.
run: $(DEPS_STAMP) $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target Dunmarrow dunmarrow winplatform opends60
	$(BUILD)/host/dunmarrow -i examples/tour.sql

test-linux: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

$(ASAN_BUILD)/build.ninja: $(ASAN_BUILD)/cmake-flags | $(DEPS_STAMP)
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDUNMARROW_SANITIZE=ON \
	  -DDUNMARROW_BENCH=OFF $(CMAKE_FLAGS)
	@touch $@

test-asan: $(DEPS_STAMP) $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The stress tests and the load test (the whole server under FreeTDS clients, with reduced
# counts) under ThreadSanitizer: only their targets are built there.
$(TSAN_BUILD)/build.ninja: $(TSAN_BUILD)/cmake-flags | $(DEPS_STAMP)
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDUNMARROW_TSAN=ON \
	  -DDUNMARROW_BENCH=OFF $(CMAKE_FLAGS)
	@touch $@

test-tsan: $(DEPS_STAMP) $(TSAN_BUILD)/build.ninja
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target stress_tests load_test
	ctest --test-dir $(TSAN_BUILD) -L 'stress|load' --output-on-failure

$(WIN_BUILD)/build.ninja: | $(DEPS_STAMP)
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake

$(WIN64_BUILD)/build.ninja: | $(DEPS_STAMP)
	cmake -S . -B $(WIN64_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake

windows: $(DEPS_STAMP) $(WIN_BUILD)/build.ninja $(WIN64_BUILD)/build.ninja
	cmake --build $(WIN_BUILD) -j $(JOBS)
	cmake --build $(WIN64_BUILD) -j $(JOBS)

check-windows: windows
	python3 scripts/check_windows_dll.py i686-w64-mingw32-objdump $(WIN_BUILD)/Dunmarrow.dll \
	  $(WIN_BUILD)/generated/module_facts.json x86
	python3 scripts/check_windows_dll.py x86_64-w64-mingw32-objdump $(WIN64_BUILD)/Dunmarrow.dll \
	  $(WIN64_BUILD)/generated/module_facts.json x64

# The release: both DLLs, the registration scripts, INSTALL.txt and SHA256SUMS in one zip.
dist: check-windows
	python3 scripts/make_dist.py --x86 $(WIN_BUILD)/Dunmarrow.dll --x64 $(WIN64_BUILD)/Dunmarrow.dll \
	  --facts $(WIN_BUILD)/generated/module_facts.json --install release/INSTALL.txt --out dist
	python3 scripts/check_dist.py dist $(WIN_BUILD)/generated/module_facts.json

# The format engine's fuzzer, ZDecompressBlock's and the TDS message parsing's (built when clang
# can build libFuzzer targets), each for a while.
fuzz: build
	@if [ -x $(BUILD)/tests/format_fuzzer ]; then \
	  mkdir -p $(BUILD)/fuzz-corpus && \
	  $(BUILD)/tests/format_fuzzer -max_total_time=$(FUZZ_SECONDS) -max_len=4096 \
	    -print_final_stats=1 $(BUILD)/fuzz-corpus tests/fuzz/format_seeds; \
	else echo "fuzz: no libFuzzer-capable clang, skipped"; fi
	@if [ -x $(BUILD)/tests/zdecompress_fuzzer ]; then \
	  mkdir -p $(BUILD)/zfuzz-corpus && \
	  $(BUILD)/tests/zdecompress_fuzzer -max_total_time=$(ZFUZZ_SECONDS) -rss_limit_mb=1024 \
	    -print_final_stats=1 $(BUILD)/zfuzz-corpus tests/fuzz/zdecompress_seeds; \
	fi
	@if [ -x $(BUILD)/tests/tds_fuzzer ]; then \
	  mkdir -p $(BUILD)/tdsfuzz-corpus && \
	  $(BUILD)/tests/tds_fuzzer -max_total_time=$(TDSFUZZ_SECONDS) -rss_limit_mb=1024 \
	    -malloc_limit_mb=64 -print_final_stats=1 $(BUILD)/tdsfuzz-corpus tests/fuzz/tds_seeds; \
	fi

# The Windows builds under Wine: the DLL loaded as a server loads it, the SQL cases (also in the
# ANSI code pages 1252 and 932) and the conformance checks against the Linux build's stand-ins.
# The x64 build always; the x86 build where this machine runs 32-bit code and 32-bit Wine is
# installed. The last lines say which ran.
test-wine: $(DEPS_WINE_STAMP) build windows
	scripts/test-wine.sh $(abspath $(BUILD)) $(WIN_BUILD) $(WIN64_BUILD) $(JOBS)

test: test-linux test-asan test-tsan check-windows dist fuzz test-wine

bench: build
	$(BUILD)/bench/benchmarks

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(WIN_BUILD) $(WIN64_BUILD) dist/*.zip .deps
