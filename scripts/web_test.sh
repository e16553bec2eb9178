#!/usr/bin/env bash
# Tests the browser page: builds the site (scripts/web.sh --build-only), runs
# the page's own unit tests (vitest, against the engine in WebAssembly), then
# drives the page in Debian's Chromium, headless, and compares what it
# downloads with kelvane-run's files (web/e2e/browser.mjs). Installs what it
# needs on Debian 12.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
kelvane_install_missing "${KELVANE_BUILD_PACKAGES[@]}" chromium
# KELVANE_NATIVE_BUILD: an x86-64 build folder to take kelvane-run from
# (scripts/test.sh hands in its build-nogui).
native="${KELVANE_NATIVE_BUILD:-$root/build-native}"
jobs="$(nproc)"
source "$root/scripts/same_bytes.sh"
kelvane_build_native

bash "$root/scripts/web.sh" --build-only
echo "== The page's own tests: formatting and types (prettier, tsc), then vitest"
(cd "$root/web" && npm run lint && npm test)
echo "== The page in Chromium (playwright-core)"
node "$root/web/e2e/browser.mjs" "$root/build-web/site" "$native/app/kelvane-run"
