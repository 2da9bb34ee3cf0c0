#!/usr/bin/env bash
# Robustness checks beyond the plain test run (tools/fuzz.sh does fuzzing):
#   sanitize  builds everything with clang, AddressSanitizer and
#             UndefinedBehaviorSanitizer (sanitize preset) and runs every test
#   memcheck  runs the unit tests and KOLVA on the bundled example under
#             valgrind: any memory error or leak fails
#   lint      clang-tidy (.clang-tidy) and cppcheck over the sources
# Installs what is missing on Debian when run as root, and names the install
# line otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh

# Configures the sanitize preset, which also writes the compile commands that
# clang-tidy reads.
configure_sanitize() {
  require_packages_for build tests clang
  cmake --preset sanitize >/dev/null
}

memcheck() {
  valgrind --quiet --error-exitcode=99 --leak-check=full \
    --show-leak-kinds=definite,indirect,possible \
    --errors-for-leak-kinds=definite,indirect,possible "$@"
}

case "${1:-}" in
  sanitize)
    configure_sanitize
    cmake --build --preset sanitize -j 2
    ctest --preset sanitize -j 2
    ;;
  memcheck)
    require_packages_for build tests memcheck
    # KOLVA is linked dynamically here: valgrind cannot follow a static C
    # library and reports its start-up code.
    cmake --preset memcheck >/dev/null
    cmake --build --preset memcheck -j 2
    memcheck build/memcheck/kolva_unit_test --gtest_brief=1
    rm -rf build/memcheck/run && mkdir -p build/memcheck/run
    cp examples/movie.parts build/memcheck/run/
    (cd build/memcheck/run && memcheck ../KOLVA movie.avi >/dev/null)
    cmp build/memcheck/run/movie.jobs.part examples/movie.jobs.part
    echo "valgrind: no memory errors, no leaks"
    ;;
  lint)
    configure_sanitize
    require_packages_for lint windows
    echo "--- clang-tidy"
    # The Windows file code is read as the 64-bit Windows build compiles it,
    # with mingw-w64's headers; the rest as the sanitize build does.
    mingw_cxx=$(echo /usr/lib/gcc/x86_64-w64-mingw32/*-win32/include/c++)
    if ! { find src -name '*.cc' ! -name '*_test.cc' ! -name '*_windows.cc' \
             -print0 |
           xargs -0 -P 2 -n 1 clang-tidy -p build/sanitize --quiet &&
           find src -name '*_windows.cc' -print0 |
           xargs -0 -r -I{} clang-tidy --quiet {} -- \
             --target=x86_64-w64-mingw32 -std=c++20 -Isrc \
             -isystem "$mingw_cxx" -isystem "$mingw_cxx/x86_64-w64-mingw32"
         } >build/clang-tidy.log 2>&1; then
      grep -v '^[0-9]* warnings generated\.$' build/clang-tidy.log
      exit 1
    fi
    echo "--- cppcheck"
    # useStlAlgorithm is a matter of taste: the plain loops read as clearly.
    cppcheck --std=c++20 --language=c++ --library=googletest -I src -I tests \
      --enable=warning,style,performance,portability \
      --suppress=useStlAlgorithm --inline-suppr --error-exitcode=1 --quiet \
      src tests fuzz
    echo "lint: clean"
    ;;
  *)
    echo "usage: tools/check.sh sanitize | memcheck | lint" >&2
    exit 2
    ;;
esac
