# Shared by scripts/run and scripts/test: install what is missing, then build.
# Sourced, not run.

SCRIVLET_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Packages needed to build and run Scrivlet.
SCRIVLET_RUN_PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6printsupport6 qt6-qpa-plugins libgl-dev libxkbcommon-dev
  fonts-noto-cjk fonts-dejavu-core fonts-liberation qt6-translations-l10n
  libssl-dev openssl ca-certificates
  libsqlite3-dev libexpat1-dev libuchardet-dev
)
# Further packages the test suite needs.
SCRIVLET_TEST_PACKAGES=(
  libgtest-dev libgmock-dev libbenchmark-dev
  poppler-utils xvfb xauth clang-format
  nginx-light tinyproxy dante-server microsocks curl
  desktop-file-utils appstream groff-base
)
# Further packages scripts/package needs to build the .deb.
SCRIVLET_PACKAGE_PACKAGES=(dpkg-dev file lintian)

scrivlet_install() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# scrivlet_build <build dir> <build type> <target> [extra cmake args...]
# Configuring talks a lot; its output shows only when it fails. The build
# tool's own status line shows the progress.
scrivlet_build() {
  local dir=$1 type=$2 target=$3
  shift 3
  local launcher=() log
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  if ! log=$(cmake -S "$SCRIVLET_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "${launcher[@]}" "$@" 2>&1); then
    printf '%s\n' "$log" >&2
    return 1
  fi
  cmake --build "$dir" -j "$(nproc)" --target "$target"
}
