# The two commands of the README, and a few more for developers. Every target installs the
# Debian packages it needs first.
.PHONY: all deps build demo test test-asan bench fuzz format clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake --preset release >/dev/null
	cmake --build --preset release

demo: build
	@scripts/demo.sh build/release

test: deps
	cmake --preset dev >/dev/null
	cmake --build --preset dev
	ctest --preset dev

test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan
	ctest --preset asan

# FUZZ_SECONDS per target; findings land in build/fuzz/work/<target>.
FUZZ_SECONDS ?= 300
fuzz: deps
	scripts/fuzz.sh $(FUZZ_SECONDS)

# The benchmarks (bench/run.sh) on the release build, of which they need only three programs.
# Recordings of 100 MB and 1 GiB are generated into /tmp and kept; the table lands in
# bench/results.md.
bench: deps
	cmake --preset release >/dev/null
	cmake --build --preset release --target rawtoavi make-bench-recording reader_bench
	bench/run.sh build/release

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf build
