#!/usr/bin/env bash
# Installs what the project needs and is missing, from Debian's (or Ubuntu's)
# packages: the same list for `make run`, `make test` and CI.
#
#   tools/prerequisites.sh build   # the tool: a C++17 compiler, CMake, make, zlib,
#                                  # libpll (the likelihood)
#   tools/prerequisites.sh test    # and the tests: GoogleTest, groff, DendroPy,
#                                  # Biopython, Snakemake, IQ-TREE
#   tools/prerequisites.sh ci      # and the sanitizer and fuzz runs and the
#                                  # format check: clang, its runtime, clang-format
#   tools/prerequisites.sh bench   # the tests' list and the benchmarks' peers
#                                  # and simulators: clearcut, FastTree, quicktree,
#                                  # INDELible, MAFFT, matplotlib
#
# As root it runs apt-get; otherwise it prints the one line to run and exits
# with 1. On a system without dpkg it only checks the commands the build needs.
set -euo pipefail

level=${1:-build}
case $level in build | test | ci | bench) ;; *)
  echo "usage: $0 build|test|ci|bench" >&2
  exit 2
  ;;
esac

need=()
want_command() { command -v "$1" >/dev/null 2>&1 || need+=("$2"); }
want_package() { dpkg -s "$1" >/dev/null 2>&1 || need+=("$1"); }

if ! command -v dpkg >/dev/null 2>&1; then
  missing=()
  for tool in cmake make c++; do command -v "$tool" >/dev/null 2>&1 || missing+=("$tool"); done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Missing: ${missing[*]} (and the zlib headers): install them with your system's packages" >&2
    exit 1
  fi
  exit 0
fi

want_command cmake cmake
want_command g++ g++
want_command make make
want_package zlib1g-dev
# The likelihood on the sites (the tool builds without it, less that).
want_package libpll-dev
if [ "$level" != build ]; then
  want_package libgtest-dev
  want_command groff groff
  # Debian's own python3 reads the Newick back (DendroPy, Biopython) and runs
  # the workflow (Snakemake).
  want_package python3-dendropy
  want_package python3-biopython
  want_command snakemake snakemake
  # The likelihood is checked against an independent ML program.
  want_command iqtree2 iqtree
fi
if [ "$level" = bench ]; then
  want_command clearcut clearcut
  want_command FastTree fasttree
  want_command quicktree quicktree
  # The realistic accuracy grid: sequences evolved with indels along the
  # true history, then aligned.
  want_command indelible indelible
  want_command mafft mafft
  want_package python3-matplotlib
fi
if [ "$level" = ci ]; then
  want_command clang++ clang
  want_command clang-format clang-format
fi

install() {
  [ $# -gt 0 ] || return 0
  if [ "$(id -u)" != 0 ]; then
    echo "Missing packages; install them with:" >&2
    echo "  sudo apt-get install -y $*" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  if [ -z "${apt_updated:-}" ]; then
    apt-get update -q </dev/null
    apt_updated=1
  fi
  apt-get install -y -q "$@" </dev/null
}

install "${need[@]+"${need[@]}"}"

# The sanitizer and fuzzer runtimes of whatever clang is installed.
if [ "$level" = ci ]; then
  runtime="$(clang++ -print-resource-dir)/lib/linux/libclang_rt.fuzzer-$(uname -m).a"
  if [ ! -f "$runtime" ]; then
    install "libclang-rt-$(clang++ -dumpversion | cut -d. -f1)-dev"
  fi
fi
