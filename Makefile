# Set-up, build and tests on Debian 12. `make test` and `make run` install
# whatever Debian packages are missing first (apt-get, needs root or sudo).
SHELL := /bin/bash
JOBS ?= $(shell nproc)
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo

# Every Debian package the project needs: compilers, Qt 6 Widgets, GoogleTest,
# the MinGW-w64 cross compiler and Wine for the Windows build, Xvfb and
# ImageMagick for the end-to-end runs with screenshots (xdotool drives the windows
# for `make screenshots` and the placement check, xwininfo of x11-utils reads where
# they open), clang for the fuzzers,
# dpkg-dev and lintian for the Debian package, tshark for the capture test,
# nsis for the Windows installer, xz-utils and perl for the Qt source of the
# Windows kit (unpacking it, its header tool), poppler-utils to read the
# settings sheet's PDF back as text and pictures.
PACKAGES := build-essential cmake ninja-build pkg-config googletest libgtest-dev libgmock-dev \
	clang libclang-rt-14-dev qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev \
	g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine wine64 nsis xz-utils perl \
	xvfb xauth imagemagick fonts-dejavu-core socat xdotool x11-utils \
	dpkg-dev lintian tshark poppler-utils

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps configure build test test-native test-sanitizers test-fuzz win-kit test-win package-win package test-package run screenshots clean

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
		echo "Installing: $$missing"; \
		$(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test-native: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -LE slow
	cd $(BUILD) && ctest --output-on-failure -L slow

# The core again under ThreadSanitizer, then AddressSanitizer with UBSan (no windows).
test-sanitizers: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTREL_GUI=OFF -DKESTREL_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j $(JOBS) -L core -LE slow
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTREL_GUI=OFF -DKESTREL_SANITIZE=address
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS) -L core -LE slow
	@# The program's exit while a console command is inside an exchange, with
	@# the windows, under AddressSanitizer (only that suite: the windows'
	@# other tests run natively).
	cmake -S . -B build-asan-ui -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=address
	cmake --build build-asan-ui -j $(JOBS) --target ui_setup_rs485
	cd build-asan-ui && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
	  tests/setup/ui_setup_rs485 exitDuringConsoleCommand closeDuringCommand

# libFuzzer targets (clang, ASan, UBSan), each for a bounded time.
test-fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTREL_GUI=OFF -DKESTREL_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS)
	cd build-fuzz && ctest --output-on-failure -L fuzz

# Qt 6 for MinGW-w64, built once per machine from Debian's qt6-base source
# into ~/.cache/kestrel-utilite (about 20 minutes on two cores).
KIT := $(shell tools/win-kit.sh --print)
win-kit: deps
	JOBS=$(JOBS) tools/win-kit.sh

# The Wine prefix of the Windows tests: private, 64-bit, made once without
# questions (no Mono or Gecko installers); an interrupted set-up is started again.
WINE_ENV := WINEPREFIX=$(CURDIR)/build-win/wineprefix WINEARCH=win64 WINEDEBUG=-all \
	WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
XVFB := xvfb-run -a -s "-screen 0 1280x1024x24 -noreset"

# The whole program cross-built for Windows with the kit, the windows included;
# every Windows suite under Wine (the window suites on the offscreen platform),
# then the real program under Wine against the simulated block.
test-win: deps win-kit
	@# -O1: the cross build is for testing; it compiles in little more than half the time of -O3.
	cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG" \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DKESTREL_QT_KIT=$(KIT)
	cmake --build build-win -j $(JOBS)
	export $(WINE_ENV); \
	  if [ ! -f "$$WINEPREFIX/system.reg" ]; then \
	    echo "Setting up the Wine prefix $$WINEPREFIX"; rm -rf "$$WINEPREFIX"; \
	    env -u DISPLAY wineboot -i >/dev/null 2>&1; wineserver -w; \
	  fi; \
	  cd build-win && $(XVFB) ctest --output-on-failure -j $(JOBS) -L win; rc=$$?; wineserver -k 2>/dev/null; exit $$rc
	@# The simulator and the harness are native programs.
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BUILD) -j $(JOBS) --target kestrel-cbsim kestrel-democfg wine_utility_e2e
	WINEPATH='Z:$(subst /,\,$(CURDIR))\build-win\wine-qt\bin' $(XVFB) $(BUILD)/tests/e2e/wine_utility_e2e \
	  build-win/src/app/kestrel-utilite.exe $(BUILD)/sim/kestrel-cbsim $(BUILD)/tools/demo/kestrel-democfg build-win

# The Windows ZIP and installer, then the installer under Wine: a silent
# install into a fresh prefix, the installed program's main window, a silent
# uninstall.
package-win: test-win
	cd build-win && cpack -G "ZIP;NSIS"
	packaging/test_installer_wine.sh $$(ls build-win/kestrel-utilite-*-win64.exe | tail -n 1) \
	  $(BUILD)/tools/demo/kestrel-democfg build-win

test: test-native test-sanitizers test-fuzz test-win package-win test-package

# The Debian package (CPack), checked by lintian; a lintian error fails the build.
package: build
	cd $(BUILD) && cpack -G DEB
	lintian --fail-on error $(BUILD)/kestrel-utilite_*.deb

# Installs the package on this machine and runs every program's --help from /usr/bin.
test-package: package
	$(SUDO) apt-get install -y -qq --reinstall ./$$(ls $(BUILD)/kestrel-utilite_*.deb | tail -n 1)
	@for p in kestrel-utilite kestrel-cfg kestrel-console kestrel-sheet kestrel-cbsim; do \
	  env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/$$p --help >/dev/null || { echo "FAIL: /usr/bin/$$p --help"; exit 1; }; \
	done
	/usr/bin/kestrel-utilite --version
	test -f /usr/share/applications/kestrel-utilite.desktop
	test -f /usr/share/icons/hicolor/scalable/apps/kestrel-utilite.svg
	for p in kestrel-utilite kestrel-cfg kestrel-console kestrel-sheet kestrel-cbsim; do test -f /usr/share/man/man1/$$p.1.gz || exit 1; done
	@echo "package installed; every program answers --help from /usr/bin"

run: build
	tools/demo.sh $(BUILD)

# Every window of the utility against the simulated block, as PNGs in docs/screenshots/.
screenshots: build
	tools/screenshots.sh $(BUILD)

clean:
	rm -rf build build-tsan build-asan build-asan-ui build-fuzz build-win
