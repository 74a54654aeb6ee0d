# Shared set-up for ./run and ./test: system packages, configure, build.
# Sourced, not executed.

QUILLET_PACKAGES=(
  build-essential cmake pkg-config clang-format
  qt6-base-dev qt6-svg-dev qt6-webengine-dev libqt6webenginewidgets6
  libcurl4-openssl-dev libxml2-dev libxslt1-dev zlib1g-dev libsqlite3-dev
  libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev qtkeychain-qt6-dev
  php8.2-cli php8.2-sqlite3 php8.2-xml php8.2-curl php8.2-mbstring php8.2-intl php8.2-zip curl
  xvfb xauth xdotool trayer openssl fonts-dejavu-core
  desktop-file-utils appstream dbus-daemon dpkg-dev file lintian man-db
  at-spi2-core python3-pyatspi
)

quillet_as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs only the packages that are missing, so a ready machine starts at once.
quillet_install_packages() {
  local missing=()
  for pkg in "${QUILLET_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    quillet_as_root apt-get update -qq
    quillet_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
  fi
}

quillet_build() {
  local jobs
  jobs=$(nproc 2>/dev/null || echo 2)
  cmake -S "$QUILLET_ROOT" -B "$QUILLET_ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$QUILLET_ROOT/build" -j"$jobs"
}

# Qt WebEngine refuses to start as root unless its sandbox is off.
quillet_webengine_env() {
  if [ "$(id -u)" -eq 0 ]; then export QTWEBENGINE_DISABLE_SANDBOX=1; fi
  export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
}
