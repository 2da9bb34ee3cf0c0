#!/usr/bin/env bash
# Builds KOLVA and runs it on the bundled example (`example`), builds and
# runs every test, the Windows build's under Wine included (`test`), or runs
# the benchmark (`bench`). Installs missing packages on Debian when run as
# root, and names the install line otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh

packages=(cmake ninja-build g++ libgtest-dev)
# The Windows cross compilers and Wine, which runs the 64-bit Windows build.
windows_packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64)

case "${1:-}" in
  example)
    require_packages "${packages[@]}"
    cmake --preset release >/dev/null
    cmake --build --preset release --target KOLVA
    rm -rf build/example && mkdir -p build/example
    cp examples/movie.parts build/example/
    (cd build/example && ../release/KOLVA movie.avi) || exit
    echo
    echo "--- build/example/movie.jobs.part:"
    cat build/example/movie.jobs.part
    cmp build/example/movie.jobs.part examples/movie.jobs.part
    ;;
  test)
    require_packages "${packages[@]}" "${windows_packages[@]}"
    # Both Windows programs are built, checked (PE format, console program,
    # system DLLs only) and packed; only the 64-bit one can run here, as this
    # kernel cannot run 32-bit programs. The native tests then run its
    # black-box cases under Wine too.
    for preset in windows-x86 windows-x64; do
      cmake --preset "$preset" >/dev/null
      cmake --build --preset "$preset" -j 2 --target package
    done
    cmake --preset ci -DKOLVA_WINDOWS_X64_EXE="$PWD/build/windows-x64/KOLVA.exe"
    cmake --build --preset ci -j 2
    ctest --preset ci -j 2
    ;;
  bench)
    # Not part of the tests: timings need a quiet machine. Extra arguments go
    # to bench/bench.py (see its --help); the reference programs in
    # ../shared/perf are compared too when that folder exists.
    require_packages "${packages[@]}" python3 time valgrind
    shift
    cmake --preset release >/dev/null
    cmake --build --preset release --target KOLVA
    peers=()
    [ -f ../shared/perf/naive.c ] && peers=(--peers ../shared/perf)
    python3 bench/bench.py "${peers[@]}" "$@"
    ;;
  *)
    echo "usage: tools/dev.sh example | test | bench [options]" >&2
    exit 2
    ;;
esac
