# Kardivelle: `make demo` and `make test` do all set-up on a fresh Debian machine.
BUILD   := build
JOBS    ?= 2
PREFIX  := $(CURDIR)/$(BUILD)/windows/wineprefix
MAC_DIR := $(BUILD)/macos
WIN_DIR := $(BUILD)/windows
ASAN_DIR := $(BUILD)/macos-asan
# The Mac suites and what they load, again with AddressSanitizer and UBSan (-O1: quicker to build).
ASAN_TARGETS := kv_tests carbon_tests imageio_tests twainframework_tests vscanner_tests host_tests Kardivelle velmar-host

.PHONY: all setup build build-macos build-macos-asan build-windows wineprefix test demo package fuzz bench clean

all: build

setup:
	@bash tools/setup.sh

build: setup build-macos build-windows wineprefix

build-macos:
	@cmake -S . -B $(MAC_DIR) -DKV_PLATFORM=macos -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(MAC_DIR) -j $(JOBS)

build-macos-asan: build-macos
	@cmake -S . -B $(ASAN_DIR) -DKV_PLATFORM=macos -DKV_SANITIZE=ON -DCMAKE_BUILD_TYPE=None \
	  "-DCMAKE_CXX_FLAGS=-O1 -g1" "-DCMAKE_C_FLAGS=-O1 -g1" >/dev/null
	@cmake --build $(ASAN_DIR) -j $(JOBS) --target $(ASAN_TARGETS)

build-windows:
	@cmake -S . -B $(WIN_DIR) -DKV_PLATFORM=windows -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake >/dev/null
	@cmake --build $(WIN_DIR) -j $(JOBS)

wineprefix: build-windows
	@bash tools/wineprefix.sh $(PREFIX) $(WIN_DIR)/sane.ds

test: build build-macos-asan
	@bash tools/run-tests.sh

demo: build
	@bash tools/demo.sh

package: build
	@bash tools/package.sh

fuzz: setup
	@bash tools/fuzz.sh

bench: build
	@bash tools/bench.sh

clean:
	rm -rf $(BUILD) dist
