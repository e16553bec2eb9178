#!/usr/bin/env bash
# Builds Kelvane and starts it. Installs what building and starting the
# window need on Debian 12 (not the test tools: scripts/test.sh adds those).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
kelvane_install_missing "${KELVANE_BUILD_PACKAGES[@]}"

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DKELVANE_GUI=ON \
  -DKELVANE_TESTS=OFF -DKELVANE_BENCH=OFF -DKELVANE_SANITIZE=OFF
cmake --build "$root/build" --target kelvane kelvane-run -j "$(nproc)"
exec "$root/build/app/kelvane" "$@"
