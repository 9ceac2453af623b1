# Pellory: `make run` and `make test` do all the set-up on a Debian machine (as root or with sudo).
BUILD     ?= build
TYPE      ?= RelWithDebInfo
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES  := cmake make g++ ninja-build pkg-config qt6-base-dev libgl-dev libgtest-dev \
             libgmock-dev libbenchmark-dev fonts-dejavu-core fonts-wqy-zenhei \
             fonts-tlwg-mono-ttf libjpeg-turbo-progs \
             libjpeg62-turbo-dev libfreetype-dev zlib1g-dev libzint-dev libzbar-dev zbar-tools \
             libzxing-dev libcpp-httplib-dev chromium python3-websocket
# What `make deb` and `make package-check` need besides the build.
PACK_PACKAGES := dpkg-dev file desktop-file-utils appstream lintian
# Debian packages `make fuzz` needs besides PACKAGES: Clang with libFuzzer and its sanitizers.
FUZZ_PACKAGES := clang libclang-rt-14-dev
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
# The Windows build (make windows): mingw-w64 with posix threads, the Qt kit for it, Wine for its
# tests, NSIS for its installer; the fonts are the renderer's, shipped beside the programs.
WINDOWS_PACKAGES := cmake ninja-build g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64 nsis \
             libz-mingw-w64-dev dpkg-dev xvfb xauth qt6-base-dev-tools \
             fonts-dejavu-core fonts-wqy-zenhei fonts-tlwg-mono-ttf
WIN_BUILD     ?= build-windows
WIN_TYPE      ?= Release
# The prefix of the libraries cross-built from Debian's sources (tools/windows/build-deps.sh).
WINDEPS       ?= $(WIN_BUILD)/deps
WIN_TOOLCHAIN ?= $(abspath ../shared/toolchains/mingw-w64-x86_64.cmake)
FUZZ_CXX     ?= $(shell command -v clang++-14 >/dev/null 2>&1 && echo clang++-14 || echo clang++)
# Warnings are errors in every build made through this Makefile (development and CI); a plain
# CMake build keeps them as warnings.
WERROR    ?= ON
CMAKE_GEN := $(shell command -v ninja >/dev/null 2>&1 && echo -G Ninja)
# A compiler cache speeds up rebuilds where one is installed; the build does not need it.
CMAKE_LAUNCHER := $(shell command -v ccache >/dev/null 2>&1 && echo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: all deps deps-fuzz install-missing configure build run test tsan asan fuzz bench clean install deb package-check \
        windows-deps windows windows-test windows-package

all: build

# Installs the Debian packages that are missing; quick when everything is there.
deps:
	@$(MAKE) --no-print-directory install-missing LIST="$(PACKAGES)"

deps-fuzz: deps
	@$(MAKE) --no-print-directory install-missing LIST="$(FUZZ_PACKAGES)"

install-missing:
	@missing=""; for p in $(LIST); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  if [ "$$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi; \
	  $$sudo apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$sudo apt-get install -y -qq --no-install-recommends $$missing; \
	fi

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) $(CMAKE_LAUNCHER) -DCMAKE_BUILD_TYPE=$(TYPE) -DPELLORY_WERROR=$(WERROR) $(CMAKE_ARGS)

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Starts Pellory with a virtual printer on COM1, so every page works without hardware.
run: build
	$(BUILD)/src/app/pellory --virtual-printer $(ARGS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# The threaded parts under ThreadSanitizer; the whole suite under AddressSanitizer and UBSan.
# (Only the tests that run are built.)
tsan:
	$(MAKE) configure BUILD=build-tsan TYPE=Debug CMAKE_ARGS="-DPELLORY_TSAN=ON -DPELLORY_BENCH=OFF"
	cmake --build build-tsan -j $(JOBS) --target tests_platform tests_link tests_vprinter tests_jobs tests_web
	cd build-tsan && ctest --output-on-failure -j $(JOBS) -R '^(platform|link|vprinter|jobs|web)_' -E '^web_browser_check$$' $(CTEST_ARGS)

asan:
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(MAKE) test BUILD=build-asan TYPE=Debug CMAKE_ARGS="-DPELLORY_ASAN=ON -DPELLORY_BENCH=OFF"

# libFuzzer targets (fuzz/) built with Clang, ASan and UBSan in their own folder; each runs for
# FUZZ_SECONDS seconds from its seed corpus. Any finding fails the run (see fuzz/run). The window's
# library is built there too, so that Clang's lock checks (-Wthread-safety) see all of src/.
fuzz: deps-fuzz
	@[ -f $(FUZZ_BUILD)/CMakeCache.txt ] || \
	  cmake -S . -B $(FUZZ_BUILD) $(CMAKE_GEN) $(CMAKE_LAUNCHER) -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) \
	    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELLORY_WERROR=$(WERROR) -DPELLORY_FUZZ=ON \
	    -DBUILD_TESTING=OFF -DPELLORY_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target pellory_fuzzers pellory_app
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run $(FUZZ_BUILD)

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

# Installs into the system, or under DESTDIR (make install DESTDIR=/tmp/root).
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(or $(PREFIX),/usr/local)

# A Debian package of the build in $(BUILD) (dependencies from the shared libraries).
deb: build
	@$(MAKE) --no-print-directory install-missing LIST="$(PACK_PACKAGES)"
	cd $(BUILD) && cpack -G DEB

# The package installed into a scratch root, its programs run from there, and the validators.
package-check: deb
	tools/check_package.sh $(BUILD)

# Windows, cross-built here: the libraries Debian lacks into $(WINDEPS), then the programs and
# tests into $(WIN_BUILD)/bin with the DLLs, Qt plugins and fonts they need beside them.
windows-deps:
	@$(MAKE) --no-print-directory install-missing LIST="$(WINDOWS_PACKAGES)"
	JOBS=$(JOBS) tools/windows/build-deps.sh $(WINDEPS)

$(WIN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(WIN_BUILD) $(CMAKE_GEN) $(CMAKE_LAUNCHER) -DCMAKE_TOOLCHAIN_FILE=$(WIN_TOOLCHAIN) \
	  -DQT_HOST_PATH=/usr -DPELLORY_WINDEPS=$(abspath $(WINDEPS)) -DCMAKE_BUILD_TYPE=$(WIN_TYPE) \
	  -DPELLORY_WERROR=$(WERROR) $(CMAKE_ARGS)

windows: windows-deps $(WIN_BUILD)/CMakeCache.txt
	cmake --build $(WIN_BUILD) -j $(JOBS)

# The Windows tests under Wine, in a Wine prefix of the build's own; then, once pellory-cli.exe is
# built, the Windows pellory-cli beside the Linux one against the Linux printer server, and both
# renderers over the corpus.
windows-test: windows
	tools/windows/run-tests.sh $(WIN_BUILD) -j $(JOBS) $(CTEST_ARGS)
	@if [ -f $(WIN_BUILD)/bin/pellory-cli.exe ]; then \
	  $(MAKE) --no-print-directory build && tools/windows/check_wine_peer.sh $(BUILD) $(WIN_BUILD) && \
	  tools/windows/check_wine_render.sh $(BUILD) $(WIN_BUILD); \
	else \
	  echo "windows-test: no pellory-cli.exe in $(WIN_BUILD)/bin yet: tools/windows/check_wine_peer.sh did not run"; \
	fi

# The 64-bit NSIS installer and the zip; then the installer is installed, run and uninstalled
# under Wine.
windows-package: windows
	cd $(WIN_BUILD) && cpack
	tools/windows/check-installer.sh $(WIN_BUILD)

clean:
	rm -rf $(BUILD) build-tsan build-asan $(FUZZ_BUILD) $(WIN_BUILD)
