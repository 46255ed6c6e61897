# The two everyday commands: `make run` and `make test`.
BUILD ?= build
GEN := $(shell command -v ninja >/dev/null 2>&1 && echo -G Ninja)
JOBS ?= $(shell nproc)

.PHONY: all deps build test run install package clean windows

all: build

deps:
	scripts/install-deps.sh gui

# Configured again when this file changes, so a new option reaches existing builds.
# Warnings are errors here: whoever runs make is there to fix them.
$(BUILD)/CMakeCache.txt: Makefile
	cmake -S . -B $(BUILD) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLOADER_WERROR=ON

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

run: build
	scripts/run-loader.sh $(BUILD)

# Into /usr/local unless PREFIX says otherwise; DESTDIR is honoured as usual.
install: build
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

# The .deb (build-release/loader_<version>_<arch>.deb), from a Release tree of its own.
BUILD_PKG ?= build-release
package:
	scripts/install-deps.sh gui package
	cmake -S . -B $(BUILD_PKG) $(GEN) -DCMAKE_BUILD_TYPE=Release -DLOADER_GUI=ON
	cmake --build $(BUILD_PKG) -j $(JOBS)
	rm -f $(BUILD_PKG)/loader_*.deb
	cd $(BUILD_PKG) && cpack -G DEB

# loader.exe and loader-cli.exe, cross-built with MinGW-w64 and packed with a short README.
BUILD_WIN ?= build-win
WIN_JOBS ?= 2
windows:
	scripts/install-deps.sh wine
	command -v zip >/dev/null || scripts/install-deps.sh zip
	cmake -S . -B $(BUILD_WIN) $(GEN) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_WIN) -j $(WIN_JOBS) --target loader loader-cli
	rm -rf $(BUILD_WIN)/package && mkdir -p $(BUILD_WIN)/package
	cp $(BUILD_WIN)/src/win32face/loader.exe $(BUILD_WIN)/tools/loader-cli/loader-cli.exe \
	  $(BUILD_WIN)/package/
	x86_64-w64-mingw32-strip $(BUILD_WIN)/package/*.exe
	printf '%s\r\n' \
	  'Loader (Zagruzchik) for Windows 10 and later' '' \
	  'loader.exe      the window: choose a HEX file and a serial port, press Start (F5),' \
	  '                switch the device on when asked.' \
	  'loader-cli.exe  the same from the command line: loader-cli.exe --help' '' \
	  'Both run on their own; no installation. loader.exe keeps its settings in loader.ini' \
	  'beside itself, so put it in a folder you may write to.' >$(BUILD_WIN)/package/README.txt
	rm -f $(BUILD_WIN)/loader-windows.zip
	cd $(BUILD_WIN)/package && zip -q -9 ../loader-windows.zip loader.exe loader-cli.exe README.txt
	@echo "packed $(BUILD_WIN)/loader-windows.zip"

clean:
	rm -rf $(BUILD)
