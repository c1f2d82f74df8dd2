#!/usr/bin/env bash
# Installs the library into a temporary prefix and builds the example against it twice, as
# other projects consume it: through pkg-config and through CMake's find_package.
# Usage: install_consumer.sh BUILD_DIR SOURCE_DIR RECORDING [CFLAGS]
# CFLAGS: what consumers need besides, e.g. the sanitizers the library was built with.
set -euo pipefail
build=$1 src=$2 recording=$3 cflags=${4:-}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" --component Unspecified >/dev/null
libdir=$(find "$prefix" -name 'libmp4file.so' -printf '%h\n' | head -n1)

export PKG_CONFIG_PATH=$libdir/pkgconfig
cc -std=c11 -Wall -Werror $cflags "$src/examples/mp4info.c" $(pkg-config --cflags --libs mp4file) \
  -Wl,-rpath,"$libdir" -o "$prefix/mp4info-pc"
"$prefix/mp4info-pc" "$recording" | grep -q '^layout:'

mkdir "$prefix/consumer"
cat >"$prefix/consumer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(consumer C)
find_package(mp4file REQUIRED)
add_executable(mp4info-cmake "$src/examples/mp4info.c")
target_link_libraries(mp4info-cmake PRIVATE mp4file::mp4file)
CMAKE
cmake -S "$prefix/consumer" -B "$prefix/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_RPATH="$libdir" -DCMAKE_C_FLAGS="$cflags" -DCMAKE_EXE_LINKER_FLAGS="$cflags" >/dev/null
cmake --build "$prefix/consumer/build" >/dev/null
"$prefix/consumer/build/mp4info-cmake" "$recording" | grep -q '^frames:'
echo "installed library consumed through pkg-config and find_package"
