#!/usr/bin/env bash
# Builds Kelvane and starts it. Installs what it needs on Debian 12.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
kelvane_install_missing

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DKELVANE_GUI=ON -DKELVANE_SANITIZE=OFF
cmake --build "$root/build" --target kelvane kelvane-run -j "$(nproc)"
exec "$root/build/app/kelvane"
