# Corvane Tool: the commands the README names. Every target installs what is missing first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
WIN_BUILD  ?= build-windows
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 20
CMAKE_FLAGS ?=
PREFIX     ?= /usr/local

.PHONY: all deps configure build test test-sanitize fuzz bench demo format clean windows test-windows \
        install package

all: build

deps:
	@bash scripts/deps.sh

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

# The whole suite; tests that sweep build their own private network (needs root for namespaces).
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Non-GUI unit tests built and run under AddressSanitizer + UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -DCORVANE_SANITIZE=ON -DCORVANE_GUI=OFF -DCORVANE_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -L unit -j $(JOBS)

# libFuzzer targets under the sanitizers, each for FUZZ_SECONDS seconds (make fuzz FUZZ_SECONDS=600).
fuzz: deps
	CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -DCORVANE_FUZZ=ON -DCORVANE_GUI=OFF -DCORVANE_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets
	bash scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

# corvane-tool, corvane-cli and corvane-devsim into PREFIX/bin, the desktop entry and the icons
# under PREFIX/share (make install DESTDIR=/tmp/stage stages them instead).
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX) --strip

# The Debian package of the same files under /usr: $(BUILD)/packages/corvane-tool_<version>_<arch>.deb
package: build
	cd $(BUILD) && cpack -G DEB

bench: build
	bash scripts/run-bench $(BUILD)

demo: build
	bash scripts/demo $(BUILD)

# Windows: Qt cross-built once with mingw-w64 (cached outside the checkout, about 35 minutes on
# two cores), the project cross-built and packed into $(WIN_BUILD)/corvane-tool-<version>-win64.zip
# and the setup program $(WIN_BUILD)/corvane-tool-<version>-setup.exe (NSIS).
windows:
	JOBS=$(JOBS) bash scripts/windows/build.sh $(WIN_BUILD)

# The Windows build's tests under wine64, then the packed tool inside the test network, then the
# setup program's silent install and uninstall (the installed tool in the test network between).
test-windows: windows
	JOBS=$(JOBS) bash scripts/windows/test.sh $(WIN_BUILD)

format:
	@git ls-files '*.cpp' '*.h' | xargs -r clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WIN_BUILD)
