# Entry points for people and CI. Everything builds out of tree under build/.
BUILD      ?= build/release
TSAN_BUILD ?= build/tsan
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja

.PHONY: all deps build test test-tsan fuzz bench demo screenshot clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 300

# The threaded tests (link, workers, controller, end to end) under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKESTAL_SANITIZE=thread
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && QT_QPA_PLATFORM=offscreen TSAN_OPTIONS=halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS) -L threads --timeout 600

# Coverage-guided fuzzing of the frame reader, the image inspector and the upload worker;
# FUZZ_SECONDS per target.
fuzz: deps
	JOBS=$(JOBS) bash scripts/run-fuzz.sh $(FUZZ_SECONDS)

# Performance figures into docs/performance.md (not part of test).
bench: build
	bash scripts/bench.sh $(BUILD)

demo: build
	@bash scripts/demo.sh $(BUILD)

screenshot: build
	@bash scripts/screenshot.sh $(BUILD)

clean:
	rm -rf build
