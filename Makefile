# A thin wrapper over the CMake presets; everything lands in build/.
.PHONY: all deps build run test test-native test-asan bench format format-check clean

all: build

deps:
	tools/install-deps build gui e2e

build: deps
	cmake --preset default
	cmake --build --preset default

run: build
	./build/pellamar

test: test-native

test-native: build
	ctest --preset default

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

bench: build
	./build/bench/pellamar_bench

format:
	tools/install-deps build
	cmake --preset default
	cmake --build --preset default --target format

format-check:
	cmake --build --preset default --target format-check

clean:
	rm -rf build
