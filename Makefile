# SPDX-License-Identifier: MIT
# make run    - install missing Debian packages, build, start Quorlin
# make test   - the same set-up, then build and run every test through CTest
# make fuzz   - build the libFuzzer targets with clang and run each FUZZ_SECONDS
#               (UPDATE_CORPUS=1 merges what they find into fuzz/corpus/)
# make bench  - build and run the benchmarks, printing their figures
# make tsan   - build the tests whose threads meet with ThreadSanitizer (clang), run them
# make package - build the Debian package build/quorlin_<version>_amd64.deb
# make install - install into PREFIX (default /usr/local), below DESTDIR when given
BUILD        ?= build
FUZZ_BUILD   ?= build-fuzz
TSAN_BUILD   ?= build-tsan
JOBS         ?= $(shell nproc)
FUZZ_SECONDS ?= 60
UPDATE_CORPUS ?= 0
BUILD_TYPE   ?= RelWithDebInfo
PREFIX       ?= /usr/local

# cmake --build runs make again below us: keep its output to what matters.
MAKEFLAGS    += --no-print-directory

.PHONY: all deps configure build run test fuzz bench sanitize tsan package install clean

all: build

deps:
	@tools/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

run: build
	cd $(BUILD) && ./quorlin

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

package: build
	cd $(BUILD) && cpack -G DEB

# cmake --install takes DESTDIR from the environment.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

sanitize: deps
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQUORLIN_SANITIZE=ON >/dev/null
	@cmake --build build-asan -j$(JOBS)
	cd build-asan && ctest --output-on-failure -j$(JOBS)

fuzz: deps
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORLIN_FUZZ=ON \
	    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(FUZZ_BUILD) -j$(JOBS) --target fuzz_all
	UPDATE_CORPUS=$(UPDATE_CORPUS) tools/fuzz $(FUZZ_BUILD)/fuzz $(FUZZ_SECONDS)

bench: build
	tools/bench $(BUILD)

tsan: deps
	@JOBS=$(JOBS) tools/tsan $(TSAN_BUILD)

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) build-asan $(TSAN_BUILD)
