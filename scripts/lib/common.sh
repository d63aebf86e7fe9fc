# Shared by scripts/run and scripts/test: package installation and the build.
# shellcheck shell=bash

TX710_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# Debian 12 packages the build, the program and the headless tests need.
TX710_PACKAGES=(
  cmake ninja-build g++ pkg-config
  qtbase5-dev libqt5serialport5-dev qtmultimedia5-dev libqt5multimedia5-plugins
  libqt5websockets5-dev
  libfreetype-dev libgl-dev libgl1-mesa-dri
  libzstd-dev zlib1g-dev
)
TX710_TEST_PACKAGES=(
  xvfb xauth clang libclang-rt-14-dev libbenchmark-dev
)

tx710_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs whichever of the given packages are missing.
tx710_install_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    tx710_as_root apt-get update -qq
    DEBIAN_FRONTEND=noninteractive tx710_as_root apt-get install -y -qq "${missing[@]}"
  fi
}

# tx710_configure DIR [cmake options...]: configures DIR (ninja when present).
tx710_configure() {
  local dir="$1"; shift
  local generator=()
  # Keep the generator a build folder was first made with.
  if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null; then generator=(-G Ninja); fi
  cmake -S "$TX710_ROOT" -B "$dir" "${generator[@]}" "$@"
}

# tx710_build DIR [cmake options...]: configures and builds everything in DIR.
tx710_build() {
  local dir="$1"; shift
  tx710_configure "$dir" "$@"
  cmake --build "$dir" -j "$(nproc)"
}
