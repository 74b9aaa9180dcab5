# Kardivelle: `make demo` and `make test` do all set-up on a fresh Debian machine.
BUILD   := build
JOBS    ?= 2
PREFIX  := $(CURDIR)/$(BUILD)/windows/wineprefix
MAC_DIR := $(BUILD)/macos
WIN_DIR := $(BUILD)/windows
ASAN_DIR := $(BUILD)/macos-asan
# What tools/demo.sh runs, per build: the extension (the Mac bundle with its catalogue
# resource file and the stand-in libraries it loads; the DLL with its resources), the host
# stand-in and the virtual scanner. The suites, benches and the rest come with `make build`.
MAC_DEMO_TARGETS := Kardivelle velmar-host kv_vscanner_mac
WIN_DEMO_TARGETS := Kardivelle velmar-host kv_vscanner_win kv_twaindsm
# The Mac suites and what they load, again with AddressSanitizer and UBSan (-O1: quicker to build).
ASAN_TARGETS := kv_tests carbon_tests imageio_tests twainframework_tests vscanner_tests host_tests Kardivelle velmar-host

.PHONY: all setup configure-macos configure-windows build build-macos build-macos-asan build-windows \
	demo-macos demo-windows wineprefix test demo package fuzz bench clean \
	configure-windows64 build-windows64 demo-windows64 wineprefix64 build-windows-for-test worker32

all: build

setup:
	@bash tools/setup.sh

configure-macos: setup
	@cmake -S . -B $(MAC_DIR) -DKV_PLATFORM=macos -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

configure-windows: setup
	@cmake -S . -B $(WIN_DIR) -DKV_PLATFORM=windows -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake >/dev/null

# Everything of both builds: every suite, the benches, what `make package` ships.
build: build-macos build-windows wineprefix build-windows64 wineprefix64

build-macos: configure-macos
	@cmake --build $(MAC_DIR) -j $(JOBS)

build-windows: configure-windows
	@cmake --build $(WIN_DIR) -j $(JOBS)

# Only what the demo runs.
demo-macos: configure-macos
	@cmake --build $(MAC_DIR) -j $(JOBS) --target $(MAC_DEMO_TARGETS)

demo-windows: configure-windows
	@cmake --build $(WIN_DIR) -j $(JOBS) --target $(WIN_DEMO_TARGETS)

# Not where i386 programs run emulated (tools/i386-mode.sh): the tree runs one of its own
# programs while it builds, and no AddressSanitizer program starts there.
build-macos-asan: build-macos
	@if [ "$$(bash tools/i386-mode.sh)" = emulated ]; then \
	  echo "build-macos-asan: not built: i386 programs run emulated here, where AddressSanitizer cannot start"; \
	else \
	  cmake -S . -B $(ASAN_DIR) -DKV_PLATFORM=macos -DKV_SANITIZE=ON -DCMAKE_BUILD_TYPE=None \
	    "-DCMAKE_CXX_FLAGS=-O1 -g1" "-DCMAKE_C_FLAGS=-O1 -g1" >/dev/null && \
	  cmake --build $(ASAN_DIR) -j $(JOBS) --target $(ASAN_TARGETS); \
	fi

# The prefix needs the virtual scanner and the TWAIN 2 manager stand-in (demo-windows builds
# them; after build-windows they are up to date).
wineprefix: demo-windows
	@bash tools/wineprefix.sh $(PREFIX) $(WIN_DIR)/sane.ds $(WIN_DIR)/TWAINDSM.dll

# ---- The 64-bit Windows build: the same source with the x86-64 toolchain, its own tree and
# its own 64-bit Wine prefix (WINEARCH win64), where the virtual scanner is a 64-bit source.
WIN64_DIR := $(BUILD)/windows64
PREFIX64  := $(CURDIR)/$(BUILD)/windows64/wineprefix

# The 64-bit DLL ships the 32-bit tree's worker beside it (kv-worker32.exe): it is built first.
configure-windows64: setup worker32
	@cmake -S . -B $(WIN64_DIR) -DKV_PLATFORM=windows -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-x86_64.cmake -DKV_WORKER32=$(CURDIR)/$(WIN_DIR)/kv-worker.exe >/dev/null

worker32: configure-windows
	@cmake --build $(WIN_DIR) -j $(JOBS) --target kv-worker

build-windows64: configure-windows64
	@cmake --build $(WIN64_DIR) -j $(JOBS)

demo-windows64: configure-windows64
	@cmake --build $(WIN64_DIR) -j $(JOBS) --target $(WIN_DEMO_TARGETS)

# With the 32-bit scanner and manager too: a 32-bit process in the prefix finds its sources in
# twain_32, as the 32-bit worker of the 64-bit build does.
wineprefix64: demo-windows64 demo-windows
	@bash tools/wineprefix.sh $(PREFIX64) $(WIN64_DIR)/sane.ds $(WIN64_DIR)/TWAINDSM.dll \
	  $(WIN_DIR)/TWAINDSM.dll $(WIN_DIR)/sane.ds
# ---- end of the 64-bit Windows build

# Where i386 programs run emulated, the 32-bit Windows suites do not run (tools/run-tests.sh
# runs the demo's calls in their place), so only what the demo runs of that tree is built.
build-windows-for-test: configure-windows
	@if [ "$$(bash tools/i386-mode.sh)" = emulated ]; then \
	  echo "build-windows: the demo's targets only: its suites do not run where i386 programs run emulated"; \
	  cmake --build $(WIN_DIR) -j $(JOBS) --target $(WIN_DEMO_TARGETS); \
	else \
	  cmake --build $(WIN_DIR) -j $(JOBS); \
	fi

test: build-macos build-windows-for-test wineprefix build-windows64 wineprefix64 build-macos-asan
	@bash tools/run-tests.sh

demo: demo-macos demo-windows wineprefix demo-windows64 wineprefix64
	@bash tools/demo.sh

package: build
	@bash tools/package.sh

fuzz: setup
	@bash tools/fuzz.sh

bench: build
	@bash tools/bench.sh

clean:
	rm -rf $(BUILD) dist
