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

test: test-native test-windows

# The lint runs of the package need lintian, appstreamcli and
# desktop-file-validate.
test-native: build
	tools/install-deps lint
	ctest --preset default

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# Both programs run; it fails when either missed a goal.
bench: build
	status=0; ./build/bench/pellamar_bench || status=1; \
	  ./build/bench/pellamar_gui_bench || status=1; exit $$status

format:
	tools/install-deps build
	cmake --preset default
	cmake --build --preset default --target format

format-check:
	cmake --build --preset default --target format-check

# The Windows build, cross-compiled: build/windows/Pellamar.exe and
# build/windows/Pellamar-<version>-win32.zip.
.PHONY: deps-windows windows test-windows
deps-windows:
	tools/install-deps build e2e windows

windows: deps-windows
	cmake --preset windows
	cmake --build --preset windows

# Its tests under Wine: those of the 32-bit build where this machine can run
# 32-bit programs, else those of the same code built for 64-bit Windows.
test-windows: windows
	preset=$$(tools/wine-ctest --print-preset) && \
	  cmake --preset $$preset && \
	  cmake --build --preset $$preset && \
	  tools/wine-ctest $$preset

.PHONY: screenshot
screenshot: build screenshot-windows
	tools/screenshot

# build/screenshot-windows.png: the program of the Windows preset that this
# machine runs under Wine (the 32-bit one, else the same code as 64-bit).
.PHONY: screenshot-windows
screenshot-windows:
	tools/install-deps build e2e windows
	preset=$$(tools/wine-ctest --print-preset) && \
	  cmake --preset $$preset && \
	  cmake --build --preset $$preset --target Pellamar && \
	  PELLAMAR_WINDOWS_PRESET=$$preset tools/screenshot-windows

.PHONY: package
package: build
	cmake --build --preset default --target package

clean:
	rm -rf build
