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
  systemd # systemd-analyze checks the recorder's unit
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

# tx710_poll TRIES COMMAND...: runs COMMAND every 0.1 s, at most TRIES times,
# until it prints something, and prints that (nothing when it never did).
tx710_poll() {
  local tries="$1" out=""; shift
  for _ in $(seq "$tries"); do
    out="$("$@")"
    [ -n "$out" ] && break
    sleep 0.1
  done
  printf '%s' "$out"
}

# tx710_start_sim LOG [tx710-sim options]: starts the simulator in the
# background; sets tx710_sim_pid and tx710_sim_port (the pseudo-terminal it
# made, empty when it did not start).
tx710_start_sim() {
  local log="$1"; shift
  "$TX710_ROOT/build/bin/tx710-sim" "$@" >"$log" 2>&1 &
  tx710_sim_pid=$!
  tx710_sim_port="$(tx710_poll 50 head -n 1 "$log")"
}

# tx710_start_live_server LOG [tx710-sim options] [-- tx710-record options]:
# the simulator feeding tx710-record --serve on a free loopback port; sets
# tx710_sim_pid, tx710_server_pid and tx710_server_port (empty when it did
# not start).
tx710_start_live_server() {
  local log="$1"; shift
  local sim_options=() record_options=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do sim_options+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  record_options=("$@")
  tx710_start_sim "$log.sim" "${sim_options[@]}"
  env -u DISPLAY -u QT_QPA_PLATFORM "$TX710_ROOT/build/bin/tx710-record" --port "$tx710_sim_port" --serve 0 \
    "${record_options[@]}" >"$log" 2>&1 &
  tx710_server_pid=$!
  tx710_server_port="$(tx710_poll 100 sed -n 's|^tx710-record: serving on ws://.*:\([0-9]*\)$|\1|p' "$log")"
}

# tx710_stop PID...: ends background processes this script started.
tx710_stop() {
  local pid
  for pid in "$@"; do
    [ -n "$pid" ] || continue
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}
