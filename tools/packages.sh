# shellcheck shell=bash
# Sourced by the tools scripts and .ci/run: the one list of the Debian
# packages that KOLVA's builds, tests and checks need, by job, and the
# functions that install them. Run as root they install what is missing;
# otherwise they name the exact commands to run and stop.

# The packages of each job: build makes KOLVA, tests adds GoogleTest for the
# test programs and the locale sources from which the tests of the Windows
# programs make a Japanese locale (code page 932 under Wine); release adds
# the zip program that packs the release zip. wine32 is Wine's 32-bit part,
# from Debian's i386 architecture: it runs the 32-bit Windows program, and
# only on a kernel that runs 32-bit programs. emulator runs the 32-bit Linux
# programs on a kernel that cannot.
declare -A KOLVA_PACKAGES=(
  [build]="cmake ninja-build g++"
  [tests]="libgtest-dev locales"
  [windows]="g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64"
  [release]="zip"
  [x86]="g++-multilib googletest"
  [wine32]="wine32:i386"
  [emulator]="qemu-user"
  [clang]="clang libclang-rt-14-dev llvm"
  [memcheck]="valgrind"
  [lint]="clang-tidy cppcheck"
  [bench]="python3 time valgrind"
)

# The jobs whose packages come without the packages they recommend:
# qemu-user recommends qemu-user-binfmt, which registers the emulator with
# the system for every program of a foreign architecture.
declare -A KOLVA_WITHOUT_RECOMMENDS=([emulator]=1)

# require_packages_for JOB... installs the packages of the jobs named.
require_packages_for() {
  local job
  local packages=()
  local bare_packages=()
  for job in "$@"; do
    [ -n "${KOLVA_PACKAGES[$job]+set}" ] || {
      echo "require_packages_for: no job named '$job'" >&2
      exit 2
    }
    # shellcheck disable=SC2206 # the list is split at its spaces
    if [ -n "${KOLVA_WITHOUT_RECOMMENDS[$job]+set}" ]; then
      bare_packages+=(${KOLVA_PACKAGES[$job]})
    else
      packages+=(${KOLVA_PACKAGES[$job]})
    fi
  done
  require_packages "${packages[@]}"
  require_packages --no-install-recommends "${bare_packages[@]}"
}

# require_packages [--no-install-recommends] PACKAGE... installs the packages
# that are missing, with the option, without the packages they recommend. A
# package of another architecture (NAME:i386) has that architecture added to
# dpkg first, the standard Debian way.
require_packages() {
  local install=(apt-get install -y)
  if [ "${1:-}" = --no-install-recommends ]; then
    install+=("$1")
    shift
  fi
  command -v dpkg-query >/dev/null || return 0
  local missing=()
  local package architecture
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
      grep -q 'ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local architectures=()
  for architecture in $(printf '%s\n' "${missing[@]}" |
      sed -n 's/^[^:]*:\(.*\)$/\1/p' | sort -u); do
    dpkg --print-foreign-architectures | grep -qx "$architecture" ||
      architectures+=("$architecture")
  done
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Install them with:" >&2
    for architecture in "${architectures[@]}"; do
      echo "  sudo dpkg --add-architecture $architecture" >&2
    done
    [ ${#architectures[@]} -eq 0 ] || echo "  sudo apt-get update" >&2
    echo "  sudo ${install[*]} ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  for architecture in "${architectures[@]}"; do
    dpkg --add-architecture "$architecture"
  done
  apt-get update -qq
  "${install[@]}" -qq "${missing[@]}"
}
