# The two commands of the README:
#   make demo   installs what is needed, builds, and runs the main job on the sample installation
#   make test   installs what is needed, builds, and runs the whole test suite
# and: make package (the three .deb files), make check-install (what an installed copy gives a
# host developer, from the install and from the packages)
PRESET ?= default
JOBS ?= $(shell nproc)

.PHONY: all deps configure build demo test package check-install asan tsan coverage bench fuzz clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET) -j $(JOBS)

demo: build
	@bash scripts/demo.sh build/$(PRESET)

test: build
	@ctest --preset $(PRESET) --timeout 600

# build/<preset>/packages/tripwire{,-dev,-sample}_<version>-1_<arch>.deb
package: build
	@cmake --build --preset $(PRESET) --target package

check-install: build
	@JOBS=$(JOBS) bash scripts/check-install.sh build/$(PRESET)

asan:
	@$(MAKE) --no-print-directory test PRESET=asan

# ThreadSanitizer on the programs with threaded cases and the stress tests (the rest of the
# suite has no threads of its own to check, and would only take time; so only these are built).
TSAN_TESTS = framework_core_test platform_concurrency_test tripwireimpl_tests tripwire_stress_tests
tsan:
	@$(MAKE) --no-print-directory configure PRESET=tsan
	@cmake --build --preset tsan -j $(JOBS) --target $(TSAN_TESTS)
	@ctest --preset tsan --timeout 900 -L 'concurrency|stress'

# Line and branch coverage of the code outside tests/, per top folder and in total (gcovr).
coverage:
	@$(MAKE) --no-print-directory build PRESET=coverage
	@find build/coverage -name '*.gcda' -delete
	@ctest --preset coverage --timeout 900 || echo "coverage: some tests failed; the figures cover what ran"
	@bash scripts/coverage.sh build/coverage

clean:
	rm -rf build

# Benchmarks (not tests): one table of our figures next to baselines measured in the same run.
# BENCH_ARGS=--quick uses 64 MiB archives (a smoke run).
bench: deps
	@cmake --preset $(PRESET) -DTRIPWIRE_BUILD_BENCH=ON >/dev/null
	@cmake --build --preset $(PRESET) -j $(JOBS) --target benchmarks
	@python3 bench/run_benchmarks.py build/$(PRESET)/bench $(BENCH_ARGS)

# Fuzzing (not tests): builds the libFuzzer targets with clang (installed when missing) and runs
# each for FUZZ_SECONDS from a copy of its seed corpus; any finding fails.
FUZZ_SECONDS ?= 60
fuzz: deps
	@JOBS=$(JOBS) bash scripts/fuzz.sh $(FUZZ_SECONDS)
