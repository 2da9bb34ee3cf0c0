#!/usr/bin/env bash
# The developer's commands, one job each:
#   example   builds KOLVA alone and runs it on the bundled example
#   test      builds KOLVA for Linux and Windows and runs every test: the
#             unit, black-box and fault tests, the black-box and fault tests
#             of both Windows programs under Wine, and the 32-bit Linux
#             build's unit, black-box and fault tests (under qemu-i386 where
#             the kernel cannot run 32-bit programs)
#   release   builds the release zip of the 32-bit Windows program, checks
#             the .sha256 file beside it, and builds the zip a second time
#             from a copy of the sources in another folder, under another
#             time zone and umask, which must give the same bytes
#   bench     runs the benchmark (options: tools/dev.sh bench --help)
# Installs missing packages on Debian when run as root, and names the install
# commands otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh

# True when the kernel runs 32-bit x86 programs (IA-32 emulation), which the
# 32-bit stages need: Wine's 32-bit part is such a program too. A static
# program that does nothing is built for i386 and started.
kernel_runs_32bit() {
  mkdir -p build
  echo 'int main() { return 0; }' |
    g++ -m32 -static -x c++ - -o build/kernel_runs_32bit || exit
  build/kernel_runs_32bit 2>/dev/null
}

# Ends a step of a subcommand: prints its name and the seconds it took.
step_start=$SECONDS
took() {
  echo "--- $1: $((SECONDS - step_start)) s"
  step_start=$SECONDS
}

case "${1:-}" in
  example)
    # KOLVA alone: no test program, so no GoogleTest needed.
    require_packages_for build
    cmake --preset program >/dev/null
    cmake --build --preset program
    rm -rf build/example && mkdir -p build/example
    cp examples/movie.parts build/example/
    (cd build/example && ../program/KOLVA movie.avi) || exit
    echo
    echo "--- build/example/movie.jobs.part:"
    cat build/example/movie.jobs.part
    cmp build/example/movie.jobs.part examples/movie.jobs.part
    ;;
  test)
    require_packages_for build tests windows x86
    took "packages"
    # Both Windows programs, each checked after linking (PE format, console
    # program, system DLLs only, manifest and version resource).
    for preset in windows-x86 windows-x64; do
      cmake --preset "$preset" >/dev/null
      cmake --build --preset "$preset" -j 2
      took "$preset build"
    done
    # Where the kernel cannot run 32-bit programs, the 32-bit Linux build
    # runs under the emulator qemu-i386: CTest starts its unit tests through
    # it, and the native build's black-box and fault drivers start KOLVA
    # through it. The 32-bit KOLVA.exe needs Wine's 32-bit part, itself a
    # 32-bit program, and cannot run there at all.
    emulator=
    if ! kernel_runs_32bit; then
      require_packages_for emulator
      took "emulator"
      emulator=qemu-i386
    fi
    cmake --preset linux-x86 -DCMAKE_CROSSCOMPILING_EMULATOR="$emulator" \
      >/dev/null
    cmake --build --preset linux-x86 -j 2
    took "linux-x86 build"
    windows_x86_exe=
    linux_x86_exe=
    if [ -z "$emulator" ]; then
      require_packages_for wine32
      took "Wine's 32-bit part"
      ctest --preset linux-x86
      took "linux-x86 unit, black-box and fault tests"
      windows_x86_exe="$PWD/build/windows-x86/KOLVA.exe"
    else
      ctest --preset linux-x86 -R '^unit$'
      took "linux-x86 unit tests under $emulator"
      linux_x86_exe="$PWD/build/linux-x86/KOLVA"
      echo "--- 32-bit KOLVA.exe under Wine SKIPPED: this kernel cannot run" \
        "32-bit programs; the 32-bit Linux tests run under $emulator"
    fi
    # The native build runs every test, the black-box tests of each Windows
    # program under Wine, each in a fresh prefix of its own, and those of the
    # 32-bit Linux program under the emulator where it needs one.
    cmake --preset ci \
      -DKOLVA_WINDOWS_X64_EXE="$PWD/build/windows-x64/KOLVA.exe" \
      -DKOLVA_WINDOWS_X86_EXE="$windows_x86_exe" \
      -DKOLVA_LINUX_X86_EXE="$linux_x86_exe" \
      -DKOLVA_LINUX_X86_EMULATOR="$emulator" >/dev/null
    cmake --build --preset ci -j 2
    took "ci build"
    ctest --preset ci -j 2
    took "ci tests, the Windows programs under Wine included"
    ;;
  release)
    require_packages_for build windows release
    # The time the linker and strip write into KOLVA.exe and the zip gives
    # its files: the commit's, unless the caller names one.
    SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
    export SOURCE_DATE_EPOCH
    cmake --preset windows-x86 >/dev/null
    cmake --build --preset windows-x86 -j 2 --target package
    (cd build/windows-x86 && sha256sum -c KOLVA-*-win32.zip.sha256)
    took "zip"
    # The same sources, build folder left out, built fresh in another
    # folder, in a time zone 14 hours from UTC (or 12 hours behind it where
    # that is the caller's), under another umask.
    copy=build/reproduce/KOLVA
    rm -rf build/reproduce && mkdir -p "$copy"
    tar -c --exclude=./build --exclude=./.git . | tar -x -C "$copy"
    other_tz='<+14>-14'
    [ "$(date +%z)" != +1400 ] || other_tz='<-12>12'
    other_umask=0077
    [ "$(umask)" != 0077 ] || other_umask=0022
    (
      cd "$copy" && umask "$other_umask" && export TZ="$other_tz" &&
        cmake --preset windows-x86 >/dev/null &&
        cmake --build --preset windows-x86 -j 2 --target package
    )
    took "zip again in $copy"
    # Named from the fresh build, which holds no zip of an older version.
    zip=$(cd "$copy/build/windows-x86" && echo KOLVA-*-win32.zip)
    sha256sum "build/windows-x86/$zip" "$copy/build/windows-x86/$zip"
    cmp "build/windows-x86/$zip" "$copy/build/windows-x86/$zip" || {
      echo "--- $zip is not reproducible: the two builds differ" >&2
      exit 1
    }
    echo "--- $zip is reproducible: the same bytes from both builds"
    ;;
  bench)
    # Not part of the tests: timings need a quiet machine. Extra arguments go
    # to bench/bench.py (see its --help).
    require_packages_for build bench x86
    shift
    # The 64-bit program and the 32-bit one, which the benchmark times side
    # by side where the kernel runs 32-bit programs.
    for preset in program program-x86; do
      cmake --preset "$preset" >/dev/null
      cmake --build --preset "$preset"
    done
    python3 bench/bench.py "$@"
    ;;
  *)
    echo "usage: tools/dev.sh example | test | release | bench [options]" >&2
    exit 2
    ;;
esac
