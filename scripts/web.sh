#!/usr/bin/env bash
# Builds the browser edition and serves it: the engine compiled to
# WebAssembly (build-web/core), then the page (web/, into build-web/site),
# then a static server at http://localhost:8080/. Installs what it needs on
# Debian 12. With --build-only it stops after the build; the site folder
# then works from any static host, under any path.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"

build_only=false
for argument in "$@"; do
  case "$argument" in
    --build-only) build_only=true ;;
    *)
      echo "usage: scripts/web.sh [--build-only]" >&2
      exit 2
      ;;
  esac
done

export KELVANE_CORE_DIR="$root/build-web/core"

# The engine's part: build-web/core/kelvane_core.{js,wasm}.
source "$root/scripts/web_core.sh"
build_core() {
  kelvane_build_web_core
}

# node and npm: Debian's own unless the machine has them already (a newer
# node from elsewhere stays as it is).
install_node() {
  local wanted=()
  command -v node >/dev/null || wanted+=(nodejs)
  command -v npm >/dev/null || wanted+=(npm)
  if [ ${#wanted[@]} -gt 0 ]; then
    kelvane_install_missing "${wanted[@]}"
  fi
}

build_site() {
  cd "$root/web"
  npm ci --no-audit --no-fund
  npm run build
}

build_core
install_node
build_site

if [ "$build_only" = true ]; then
  echo "The site is in $root/build-web/site"
  exit 0
fi
cd "$root/web"
exec npx vite preview --port 8080 --strictPort --outDir ../build-web/site
