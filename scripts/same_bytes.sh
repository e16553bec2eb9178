# Sourced by cross_test.sh and wasm_test.sh: the x86-64 build to compare
# with, the other target's build, the setups kelvane-run is compared on, with
# few steps (qemu takes about 0.4 s for a step at the defaults), and the
# comparison itself.

kelvane_setups=(
  "defaults|--steps 5"
  "two-species|--outer-rib 4e-6 --inner-rib 1e-6 --species 7.2e20,1.5e-9,1.43e-10 --species 3e20,3e-9,7e-11 --steps 20"
)

# kelvane_build_native: the x86-64 kelvane-run in "$native", whose bytes the
# other target's must match.
kelvane_build_native() {
  echo "== x86-64 kelvane-run (the bytes to match)"
  cmake -S "$root" -B "$native" -DCMAKE_BUILD_TYPE=Release -DKELVANE_GUI=OFF -DKELVANE_BENCH=OFF
  cmake --build "$native" -j "$jobs" --target kelvane-run
}

# kelvane_build_for BUILD_DIR TOOLCHAIN_FILE: the known-answer runner and
# kelvane-run for another processor, without the window and the benchmarks.
kelvane_build_for() {
  cmake -S "$root" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$2" \
    -DCMAKE_BUILD_TYPE=Release -DKELVANE_GUI=OFF -DKELVANE_BENCH=OFF -DKELVANE_TESTS=ON
  cmake --build "$1" -j "$jobs" --target known_answers_runner kelvane-run
}

# kelvane_compare_setups TARGET COMMAND...: runs the x86-64 kelvane-run in
# "$native" and COMMAND (the other target's kelvane-run) on every setup, into
# "$out", and adds to "$failed" each output file whose bytes differ.
kelvane_compare_setups() {
  local target="$1"
  shift
  local setup name file
  local -a options
  for setup in "${kelvane_setups[@]}"; do
    name="${setup%%|*}"
    read -r -a options <<<"${setup#*|}"
    "$native/app/kelvane-run" "${options[@]}" --csv "$out/x86/$name/run.csv" --curves "$out/x86/$name"
    "$@" "${options[@]}" --csv "$out/$target/$name/run.csv" --curves "$out/$target/$name"
    for file in run.csv 'N1(t).txt' 'C1(t).txt'; do
      if cmp "$out/x86/$name/$file" "$out/$target/$name/$file"; then
        echo "same bytes: $name $file"
      else
        failed=$((failed + 1))
      fi
    done
  done
}
