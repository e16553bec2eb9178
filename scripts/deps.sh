# Installs the Debian packages Kelvane needs, when they are missing. Sourced
# by run.sh (building and starting the window: KELVANE_BUILD_PACKAGES) and by
# test.sh and screenshots.sh (everything: KELVANE_TEST_PACKAGES too).

# Building the window, kelvane-run and the Python module, and starting the window.
KELVANE_BUILD_PACKAGES=(
  cmake make g++ pkg-config libcli11-dev libtomlplusplus-dev
  qt6-base-dev libgl-dev libqcustomplot-dev fonts-dejavu-core
  pybind11-dev python3-dev python3-numpy
)

# Testing: the test and benchmark libraries, the formatter and the fuzzers'
# compiler, the virtual X session of the window tests and pictures, the sweep
# examples, the Python module's tests, its dask sweep and notebook, pip's
# install into a virtual environment, making and checking the Debian package,
# the builds for other processors (arm64 under qemu, WebAssembly in node) and
# the browser page's test in Chromium.
KELVANE_TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  xvfb xdotool x11-utils libx11-dev imagemagick time
  parallel python3-pandas python3-matplotlib
  python3-pytest python3-tqdm python3-distributed python3-nbclient python3-nbformat
  python3-ipykernel python3-venv python3-setuptools python3-pip
  dpkg-dev file desktop-file-utils debootstrap help2man lintian
  g++-aarch64-linux-gnu qemu-user-static emscripten nodejs libfmt-dev chromium
)

# kelvane_install_missing PACKAGE...: installs those of the packages that are
# missing, with sudo when not root.
kelvane_install_missing() {
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$package")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
  fi
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}
