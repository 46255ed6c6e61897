# The two everyday commands: `make run` and `make test`.
BUILD ?= build
GEN := $(shell command -v ninja >/dev/null 2>&1 && echo -G Ninja)
JOBS ?= $(shell nproc)

.PHONY: all deps build test run clean

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

clean:
	rm -rf $(BUILD)
