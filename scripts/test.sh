#!/usr/bin/env bash
# Builds Kelvane and runs every test: a formatting check, the engine and
# conversion tests built without Qt, the known answers on arm64 (under qemu)
# and in WebAssembly (in node), the browser page (in Chromium), the release
# build, the Debian package
# (its contents, and installed on a fresh Debian 12), the Python module
# installed by pip into a virtual environment, then the same suite
# under the address and undefined-behaviour sanitizers, a short fuzz run, and
# a short benchmark run so the benchmarks keep building and running. Installs
# what it needs on Debian 12.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
kelvane_install_missing "${KELVANE_BUILD_PACKAGES[@]}" "${KELVANE_TEST_PACKAGES[@]}"
jobs="$(nproc)"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

echo "== Formatting (clang-format, .clang-format)"
(cd "$root" && find Statg Diffunit Session Mainform app tests bench fuzz python web/core -name '*.cpp' -o -name '*.h' |
  sort | xargs clang-format --dry-run --Werror)

echo "== Without the window (no Qt): engine and conversion tests"
cmake -S "$root" -B "$root/build-nogui" -DCMAKE_BUILD_TYPE=Release \
  -DKELVANE_GUI=OFF -DKELVANE_TESTS=ON -DKELVANE_BENCH=OFF -DKELVANE_SANITIZE=OFF
cmake --build "$root/build-nogui" -j "$jobs"
ctest --test-dir "$root/build-nogui" --output-on-failure -j "$jobs"

echo "== Other processors: arm64 under qemu, WebAssembly in node (a few minutes each)"
KELVANE_NATIVE_BUILD="$root/build-nogui" bash "$root/scripts/cross_test.sh"
KELVANE_NATIVE_BUILD="$root/build-nogui" bash "$root/scripts/wasm_test.sh"

echo "== The browser page: its own tests, and the page in Chromium against kelvane-run"
KELVANE_NATIVE_BUILD="$root/build-nogui" bash "$root/scripts/web_test.sh"

echo "== Release build and tests"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release \
  -DKELVANE_GUI=ON -DKELVANE_TESTS=ON -DKELVANE_BENCH=ON -DKELVANE_SANITIZE=OFF -DKELVANE_PACKAGE=ON \
  -DKELVANE_PYTHON=ON -DPython3_EXECUTABLE=/usr/bin/python3
cmake --build "$root/build" -j "$jobs"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

echo "== Debian package (contents, lintian, a fresh Debian 12 install)"
rm -f "$root"/build/kelvane_*.deb
(cd "$root/build" && cpack -G DEB)
deb="$(echo "$root"/build/kelvane_*.deb)"
bash "$root/tests/package_test.sh" "$deb"
# A minute or so (debootstrap and apt); skipped (77) without root or network.
# The downloaded base system is kept in build/ for later runs.
bash "$root/tests/fresh_install_test.sh" "$deb" "$root/build/debootstrap-bookworm.tgz" ||
  [ $? -eq 77 ]

echo "== pip install . into a virtual environment, without network"
venv="$(mktemp -d)"
/usr/bin/python3 -m venv --system-site-packages "$venv"
(cd "$root" && "$venv/bin/pip" install -q --no-build-isolation --no-index .)
(cd "$venv" && "$venv/bin/python" -c \
  'import kelvane; assert kelvane.__file__.startswith("'"$venv"'"); assert len(kelvane.run(kelvane.Session(), steps=2)) == 2')
rm -rf "$venv"

echo "== Sanitizer build (address, undefined behaviour) and tests"
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELVANE_SANITIZE=ON -DKELVANE_GUI=ON -DKELVANE_TESTS=ON -DKELVANE_BENCH=OFF
cmake --build "$root/build-asan" -j "$jobs"
# tests/lsan.supp: leaks inside system libraries (libdbus, under Qt), not ours.
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0" \
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"

echo "== Fuzzers (libFuzzer, address and undefined behaviour), a few seconds each"
# The fuzzers grow their corpus as they run: give them a copy, so the seeds in
# the repository stay as committed. A finding is kept in build-fuzz/artifacts.
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELVANE_FUZZ=ON -DKELVANE_GUI=OFF -DKELVANE_TESTS=OFF -DKELVANE_BENCH=OFF
cmake --build "$root/build-fuzz" -j "$jobs"
fuzz_corpus="$(mktemp -d)"
trap 'rm -rf "$fuzz_corpus"' EXIT
mkdir -p "$root/build-fuzz/artifacts"
for fuzzer in engine_fuzz text_to_number_fuzz session_fuzz; do
  cp -r "$root/fuzz/corpus/$fuzzer" "$fuzz_corpus/$fuzzer"
  # A fixed seed keeps this smoke run repeatable; long runs use fresh seeds.
  "$root/build-fuzz/fuzz/$fuzzer" -seed=1 -max_total_time=5 -timeout=10 \
    -artifact_prefix="$root/build-fuzz/artifacts/$fuzzer-" "$fuzz_corpus/$fuzzer"
done

echo "== Short benchmark run"
for bench in "$root"/build/bench/*_bench; do
  "$bench" --benchmark_min_time=0.05
done
# The parts of a shared step: one short round, which also checks that moving,
# the scan and the chain leave the same stream states.
"$root/build/bench/chain_parts" fastest 1 5

echo "== All tests passed"
