# Entry points for people and CI. Everything builds out of tree under build/.
BUILD      ?= build/release
TSAN_BUILD ?= build/tsan
ASAN_BUILD ?= build/asan
WIN_BUILD  ?= build/windows
JOBS       ?= $(shell nproc)
PREFIX     ?= /usr
CMAKE_GEN  := -G Ninja

# Let ccache share objects between clones in other folders (CI builds a fresh clone).
export CCACHE_BASEDIR  := $(CURDIR)
export CCACHE_NOHASHDIR := 1

.PHONY: all deps build test size test-asan test-tsan fuzz ci bench demo screenshot install package \
	clean

all: build

# The Debian packages a target needs (scripts/install-deps.sh names the groups): `make demo`
# never installs Wine or MinGW, only the Windows targets do.
DEPS ?= build test
deps:
	@bash scripts/install-deps.sh $(DEPS)

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 300

# kestal.exe and kestal-cli.exe, cross-built with MinGW-w64 and linked statically.
.PHONY: windows windows-installer test-windows
windows: DEPS = windows
windows: deps
	bash scripts/build-windows.sh $(WIN_BUILD)

# kestal-setup-<version>.exe (NSIS) and kestal-<version>-windows.zip in $(WIN_BUILD)/package.
windows-installer: DEPS = windows
windows-installer: windows
	bash scripts/package-windows.sh $(WIN_BUILD)

# Under Wine: kestal-cli.exe against the Linux emulator; then, on Xvfb, the window (driven from
# outside, and in command-line mode, against the emulator too), its settings in the registry
# and the installer's round trip.
test-windows: DEPS = windows
test-windows: windows-installer build
	bash scripts/test-windows.sh $(WIN_BUILD) $(BUILD)
	bash scripts/test-windows-window.sh $(WIN_BUILD) $(BUILD)

# Lines of code in tests/ against src/, bench/ and scripts/; fails above 35 %.
size:
	@bash scripts/size.sh

# The whole suite under AddressSanitizer + UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKESTAL_SANITIZE=address -DKESTAL_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen \
		ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
		ctest --output-on-failure -j $(JOBS) --timeout 600

# The threaded tests (link, workers, controller, end to end) under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKESTAL_SANITIZE=thread -DKESTAL_BENCH=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && QT_QPA_PLATFORM=offscreen TSAN_OPTIONS=halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS) -L threads --timeout 600

# Coverage-guided fuzzing of the frame reader and the image reader;
# FUZZ_SECONDS per target.
fuzz: DEPS = fuzz
fuzz: deps
	JOBS=$(JOBS) bash scripts/run-fuzz.sh $(FUZZ_SECONDS)

# Everything CI runs: the plain suite, the Windows command line under Wine, half a minute of
# fuzzing per target, both sanitizer builds.
ci: DEPS = build test fuzz package windows
ci: test
	$(MAKE) test-windows
	$(MAKE) fuzz FUZZ_SECONDS=$(or $(FUZZ_SECONDS),30)
	$(MAKE) test-tsan
	$(MAKE) test-asan

# Performance figures into docs/performance.md (not part of test).
bench: build
	bash scripts/bench.sh $(BUILD)

demo: DEPS = demo
demo: build
	@bash scripts/demo.sh $(BUILD)

screenshot: build
	@bash scripts/screenshot.sh $(BUILD)

# The Windows window under Wine, on a virtual screen, into docs/screenshot-windows.png.
.PHONY: screenshot-windows
screenshot-windows: DEPS = windows screenshot-windows
screenshot-windows: deps windows
	bash scripts/screenshot-windows.sh $(WIN_BUILD)

# The programs, man pages, desktop entry and icon under $(DESTDIR)$(PREFIX).
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)

# A .deb in $(BUILD)/package, then checked: its files, its dependencies, a scratch install, lintian.
package: DEPS = build test package
package: build
	rm -f $(BUILD)/package/*.deb
	cd $(BUILD) && cpack -G DEB
	bash scripts/check-package.sh $(BUILD)/package/kestal_*.deb

clean:
	rm -rf build
