#!/usr/bin/env bash
# Proves Kelvane on 64-bit Arm: cross-builds the engine, the session
# library, kelvane-run and the known-answer runner with Debian's
# g++-aarch64-linux-gnu (statically linked, cmake/aarch64-linux-gnu.cmake),
# runs them under qemu-aarch64-static, and checks that the shared known-answer
# list holds and that kelvane-run writes the same bytes as the x86-64 build
# for the defaults and a two-species setup. Installs what it needs on
# Debian 12. Builds in build-native (kelvane-run only; see below) and
# build-arm64.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
kelvane_install_missing "${KELVANE_BUILD_PACKAGES[@]}" g++-aarch64-linux-gnu qemu-user-static
jobs="$(nproc)"
# KELVANE_NATIVE_BUILD: an x86-64 build folder to take kelvane-run from
# (scripts/test.sh hands in its build-nogui).
native="${KELVANE_NATIVE_BUILD:-$root/build-native}"
arm64="$root/build-arm64"

source "$root/scripts/same_bytes.sh"
kelvane_build_native

echo "== arm64 build (g++-aarch64-linux-gnu, static)"
kelvane_build_for "$arm64" "$root/cmake/aarch64-linux-gnu.cmake"

echo "== arm64 known answers (qemu-aarch64-static)"
qemu-aarch64-static "$arm64/tests/known_answers_runner" "$root/tests/known_answers.txt"

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
failed=0
kelvane_compare_setups arm64 qemu-aarch64-static "$arm64/app/kelvane-run"
if [ "$failed" -ne 0 ]; then
  echo "$failed output files differ between x86-64 and arm64"
  exit 1
fi
echo "== arm64: the known answers hold and kelvane-run writes the x86-64 bytes"
