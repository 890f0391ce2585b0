# Entry points: 'make run' and 'make test' take a fresh Debian machine all the way.
BUILD ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
CMAKE_FLAGS ?=
PREFIX ?= /usr/local

.PHONY: all deps configure build test run bench sanitize tsan fuzz clean

all: build

deps:
	scripts/setup.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j2

run: build
	scripts/run-example.sh $(BUILD)

bench: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_BENCHMARKS=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD)

# The test suite under AddressSanitizer and UndefinedBehaviorSanitizer, in a build folder of its own.
sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVANEL_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j2

# The tests that run jobs on several threads, under ThreadSanitizer, in a build
# folder of its own (no window: the toolkit is not instrumented).
TSAN_TESTS ?= ^(ParallelRun\.|PointTable\.SharedIndex)
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANEL_TSAN=ON -DBUILD_WINDOW=OFF $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) --target korvanel_tests
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --output-on-failure -R '$(TSAN_TESTS)'

# Each libFuzzer target for FUZZ_SECONDS (clang, in build-fuzz/).
FUZZ_SECONDS ?= 60
fuzz: deps
	scripts/fuzz.sh $(FUZZ_SECONDS)

# The build installed under PREFIX, staged under DESTDIR when that is set.
.PHONY: install package
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# The Debian package korvanel_VERSION_ARCH.deb, in the build folder.
package: build
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) build-fuzz
