#!/usr/bin/env bash
# Proves Kelvane in WebAssembly: builds the engine, the session library,
# kelvane-run and the known-answer runner with Debian's Emscripten
# (cmake/emscripten-node.cmake: exceptions on, one thread, the real file
# system), runs them in node, and checks that the shared known-answer list
# holds and that kelvane-run writes the same bytes as the x86-64 build for
# the defaults and a two-species setup. Installs what it needs on Debian 12.
# Builds in build-native (kelvane-run only; see below) and build-wasm.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
kelvane_install_missing "${KELVANE_BUILD_PACKAGES[@]}" emscripten nodejs libfmt-dev
jobs="$(nproc)"
# KELVANE_NATIVE_BUILD: an x86-64 build folder to take kelvane-run from
# (scripts/test.sh hands in its build-nogui).
native="${KELVANE_NATIVE_BUILD:-$root/build-native}"
wasm="$root/build-wasm"
# Emscripten's tools find Debian's acorn there.
export NODE_PATH="${NODE_PATH:-/usr/share/nodejs}"
# node 18 and later would fetch the loader's .wasm file as a URL.
node=(node --no-experimental-fetch)

source "$root/scripts/same_bytes.sh"
kelvane_build_native

echo "== WebAssembly build (em++)"
kelvane_build_for "$wasm" "$root/cmake/emscripten-node.cmake"

echo "== WebAssembly known answers (node)"
"${node[@]}" "$wasm/tests/known_answers_runner.js" "$root/tests/known_answers.txt"

out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
failed=0
kelvane_compare_setups wasm "${node[@]}" "$wasm/app/kelvane-run.js"
# A bad value is an error with its message (exceptions work), as on x86-64.
bad=(--inner-rib 2e-5 --steps 1 --csv "$out/bad.csv")
native_code=0 wasm_code=0
"$native/app/kelvane-run" "${bad[@]}" 2>"$out/x86-bad.txt" || native_code=$?
"${node[@]}" "$wasm/app/kelvane-run.js" "${bad[@]}" 2>"$out/wasm-bad.txt" || wasm_code=$?
if [ "$native_code" -eq 2 ] && [ "$wasm_code" -eq 2 ] && cmp "$out/x86-bad.txt" "$out/wasm-bad.txt"; then
  echo "same refusal: $(cat "$out/wasm-bad.txt")"
else
  echo "a bad value: exit $native_code on x86-64, $wasm_code in WebAssembly"
  failed=$((failed + 1))
fi
if [ "$failed" -ne 0 ]; then
  echo "$failed outputs differ between x86-64 and WebAssembly"
  exit 1
fi
echo "== WebAssembly: the known answers hold and kelvane-run writes the x86-64 bytes"
