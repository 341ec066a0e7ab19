# The entry point engine-testing frameworks use:
#   make [EXE=brik] [CXX=g++] [ARCH=x86-64-v2] [JOBS=n]
# configures a Release build of the engine alone (no tests, no benchmarks) in
# build-make/ with CMake, builds it and copies it to $(EXE). ARCH is one of
# native, x86-64-v3, x86-64-v2, x86-64 (see the README).
EXE ?= brik
ARCH ?= x86-64-v2
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD_DIR := build-make
GENERATOR := $(if $(shell command -v ninja 2>/dev/null),Ninja,Unix Makefiles)

.PHONY: all clean

all:
	cmake -S . -B $(BUILD_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=$(CXX) \
	  -DBRIK_ARCH=$(ARCH) -DBRIK_TESTS=OFF -DBRIK_BENCHMARKS=OFF
	cmake --build $(BUILD_DIR) --target brik --parallel $(JOBS)
	cp $(BUILD_DIR)/brik $(EXE)

clean:
	rm -rf $(BUILD_DIR) $(EXE)
