# Installs the Debian packages that building, running and testing need, when
# they are missing. Sourced by run.sh and test.sh.

KELVANE_PACKAGES=(
  cmake make g++ pkg-config libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libgl-dev libqcustomplot-dev fonts-dejavu-core
  clang libclang-rt-14-dev clang-format
  xvfb xdotool x11-utils libx11-dev imagemagick time
  parallel python3-pandas python3-matplotlib
  dpkg-dev file desktop-file-utils debootstrap help2man
)

kelvane_install_missing() {
  local missing=()
  local package
  for package in "${KELVANE_PACKAGES[@]}"; do
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
