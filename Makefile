# Pellory: `make run` and `make test` do all the set-up on a Debian machine (as root or with sudo).
BUILD     ?= build
TYPE      ?= RelWithDebInfo
JOBS      ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES  := cmake make g++ ninja-build pkg-config qt6-base-dev libgl-dev libgtest-dev \
             libgmock-dev libbenchmark-dev fonts-dejavu-core libjpeg-turbo-progs \
             libjpeg62-turbo-dev libfreetype-dev libzint-dev libzbar-dev zbar-tools
# What `make deb` and `make package-check` need besides the build.
PACK_PACKAGES := dpkg-dev file desktop-file-utils appstream lintian
CMAKE_GEN := $(shell command -v ninja >/dev/null 2>&1 && echo -G Ninja)
# A compiler cache speeds up rebuilds where one is installed; the build does not need it.
CMAKE_LAUNCHER := $(shell command -v ccache >/dev/null 2>&1 && echo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: all deps configure build run test tsan asan bench clean install deb package-check

all: build

# Installs the Debian packages that are missing; quick when everything is there.
deps:
	@$(MAKE) --no-print-directory install-packages LIST="$(PACKAGES)"

install-packages:
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
	cmake -S . -B $(BUILD) $(CMAKE_GEN) $(CMAKE_LAUNCHER) -DCMAKE_BUILD_TYPE=$(TYPE) $(CMAKE_ARGS)

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Starts Pellory with a virtual printer on COM1, so every page works without hardware.
run: build
	$(BUILD)/src/app/pellory --virtual-printer $(ARGS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# The threaded parts under ThreadSanitizer; the whole suite under AddressSanitizer and UBSan.
tsan:
	$(MAKE) test BUILD=build-tsan TYPE=Debug CMAKE_ARGS="-DPELLORY_TSAN=ON -DPELLORY_BENCH=OFF" \
	  CTEST_ARGS="-R '^(platform|link|vprinter)_'"

asan:
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp $(MAKE) test BUILD=build-asan TYPE=Debug CMAKE_ARGS="-DPELLORY_ASAN=ON -DPELLORY_BENCH=OFF"

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

# Installs into the system, or under DESTDIR (make install DESTDIR=/tmp/root).
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(or $(PREFIX),/usr/local)

# A Debian package of the build in $(BUILD) (dependencies from the shared libraries).
deb: build
	@$(MAKE) --no-print-directory install-packages LIST="$(PACK_PACKAGES)"
	cd $(BUILD) && cpack -G DEB

# The package installed into a scratch root, its programs run from there, and the validators.
package-check: deb
	tools/check_package.sh $(BUILD)

clean:
	rm -rf $(BUILD) build-tsan build-asan
