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
	test-wine dist fuzz bench clean format

deps:
	scripts/install-deps.sh

deps-wine:
	scripts/install-deps.sh --wine

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/host/dunmarrow -i examples/tour.sql

test-linux: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDUNMARROW_SANITIZE=ON \
	  -DDUNMARROW_BENCH=OFF $(CMAKE_FLAGS)

test-asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The stress tests and the load test (the whole server under FreeTDS clients, with reduced
# counts) under ThreadSanitizer: only their targets are built there.
$(TSAN_BUILD)/build.ninja:
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDUNMARROW_TSAN=ON \
	  -DDUNMARROW_BENCH=OFF $(CMAKE_FLAGS)

test-tsan: deps $(TSAN_BUILD)/build.ninja
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target stress_tests load_test
	ctest --test-dir $(TSAN_BUILD) -L 'stress|load' --output-on-failure

$(WIN_BUILD)/build.ninja:
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake

$(WIN64_BUILD)/build.ninja:
	cmake -S . -B $(WIN64_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake

windows: deps $(WIN_BUILD)/build.ninja $(WIN64_BUILD)/build.ninja
	cmake --build $(WIN_BUILD) -j $(JOBS)
	cmake --build $(WIN64_BUILD) -j $(JOBS)

check-windows: windows
	python3 scripts/check_windows_dll.py i686-w64-mingw32-objdump $(WIN_BUILD)/Dunmarrow.dll \
	  runtime/Dunmarrow.def x86
	python3 scripts/check_windows_dll.py x86_64-w64-mingw32-objdump $(WIN64_BUILD)/Dunmarrow.dll \
	  runtime/Dunmarrow.def x64

# The release: both DLLs, the registration scripts, INSTALL.txt and SHA256SUMS in one zip.
dist: check-windows
	python3 scripts/make_dist.py --x86 $(WIN_BUILD)/Dunmarrow.dll --x64 $(WIN64_BUILD)/Dunmarrow.dll \
	  --def runtime/Dunmarrow.def --install release/INSTALL.txt --out dist
	python3 scripts/check_dist.py dist/Dunmarrow-1.1.0.0-windows.zip runtime/Dunmarrow.def

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
test-wine: deps-wine build windows
	scripts/test-wine.sh $(abspath $(BUILD)) $(WIN_BUILD) $(WIN64_BUILD) $(JOBS)

test: test-linux test-asan test-tsan check-windows dist fuzz test-wine

bench: build
	$(BUILD)/bench/benchmarks

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(WIN_BUILD) $(WIN64_BUILD) dist/*.zip
