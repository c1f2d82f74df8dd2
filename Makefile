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

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf build
