# Builds the browser page's engine (web/core: the engine and the session
# library in WebAssembly, with Debian's Emscripten) into build-web/core, where
# the page's build (web/vite.config.ts) imports kelvane_core.js and its .wasm.
# Sourced by web.sh and test.sh; needs $root and scripts/deps.sh.
kelvane_build_web_core() {
  kelvane_install_missing cmake make emscripten nodejs libcli11-dev libtomlplusplus-dev libfmt-dev
  # Emscripten's tools find Debian's acorn there.
  export NODE_PATH="${NODE_PATH:-/usr/share/nodejs}"
  cmake -S "$root" -B "$root/build-web/core" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/emscripten-web.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DKELVANE_WEB=ON -DKELVANE_GUI=OFF -DKELVANE_CLI=OFF \
    -DKELVANE_TESTS=OFF -DKELVANE_BENCH=OFF >/dev/null
  cmake --build "$root/build-web/core" -j "$(nproc)" --target kelvane_core
}
