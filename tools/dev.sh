#!/usr/bin/env bash
# Builds KOLVA and runs it on the bundled example (`example`), builds and
# runs every test (`test`), or runs the benchmark (`bench`). Installs missing build packages on Debian when run
# as root, and names the install line otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ libgtest-dev)

install_missing() {
  command -v dpkg-query >/dev/null || return 0
  local missing=()
  for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
      grep -q 'ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
}

case "${1:-}" in
  example)
    install_missing
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
    install_missing
    cmake --preset ci
    cmake --build --preset ci -j 2
    ctest --preset ci -j 2
    ;;
  bench)
    # Not part of the tests: timings need a quiet machine. Extra arguments go
    # to bench/bench.py (see its --help); the reference programs in
    # ../shared/perf are compared too when that folder exists.
    install_missing
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
