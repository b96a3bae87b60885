# A thin wrapper over the CMake presets; everything lands in build/. Each
# target first installs the Debian packages it needs (tools/install-deps).
.PHONY: all deps build run test test-native test-asan bench format format-check clean

all: build

# What building and starting the programs needs, and no test tool.
deps:
	tools/install-deps build gui

build: deps
	cmake --preset default
	cmake --build --preset default

run: build
	./build/pellamar

test: test-native test-windows

# What the tests run beside the programs: Xvfb and the accessibility bus,
# and for the tests of the package, CPack's tools and the lint runs.
.PHONY: deps-test
deps-test: deps
	tools/install-deps e2e package lint

test-native: build deps-test
	ctest --preset default

test-asan: deps-test
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# Both programs run; it fails when either missed a goal.
bench: build
	status=0; ./build/bench/pellamar_bench || status=1; \
	  ./build/bench/pellamar_gui_bench || status=1; exit $$status

# The format targets exist in a tree configured where clang-format is
# installed.
format:
	tools/install-deps build format
	cmake --preset default
	cmake --build --preset default --target format

format-check:
	tools/install-deps build format
	cmake --preset default
	cmake --build --preset default --target format-check

# The 32-bit Windows build, cross-compiled: build/windows/Pellamar.exe,
# pellamar-cli.exe, the tests, and build/windows/Pellamar-<version>-win32.zip.
# Building needs the cross compilers only; Wine runs the tests.
.PHONY: deps-windows windows test-windows
deps-windows:
	tools/install-deps build windows

windows: deps-windows
	cmake --preset windows
	cmake --build --preset windows

# The Windows tests under Wine: those of the 32-bit build where this machine
# can run 32-bit programs, else those of the same code built for 64-bit
# Windows.
test-windows: windows
	tools/install-deps e2e wine
	preset=$$(tools/wine-ctest --print-preset) && \
	  cmake --preset $$preset && \
	  cmake --build --preset $$preset && \
	  tools/wine-ctest $$preset

.PHONY: screenshot
screenshot: build screenshot-windows
	tools/install-deps e2e
	tools/screenshot

# build/screenshot-windows.png: the program of the Windows preset that this
# machine runs under Wine (the 32-bit one, else the same code as 64-bit).
.PHONY: screenshot-windows
screenshot-windows:
	tools/install-deps build e2e windows wine
	preset=$$(tools/wine-ctest --print-preset) && \
	  cmake --preset $$preset && \
	  cmake --build --preset $$preset --target Pellamar && \
	  PELLAMAR_WINDOWS_PRESET=$$preset tools/screenshot-windows

# Every download: build/pellamar_<version>_<arch>.deb, and the zips of both
# Windows builds, build/windows/Pellamar-<version>-win32.zip and
# build/windows-x64/Pellamar-<version>-win64.zip, each with both programs.
# The zips need the cross compilers only, not Wine, and build no test.
.PHONY: package
package: build
	tools/install-deps package windows
	cmake --build --preset default --target package
	for preset in windows windows-x64; do \
	  cmake --preset $$preset && \
	  cmake --build --preset $$preset --target windows_zip || exit 1; \
	done

clean:
	rm -rf build
