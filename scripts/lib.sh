# Shared by scripts/run and scripts/test: installs what is missing and builds.
# Idempotent: a second run installs nothing and rebuilds only what changed.

TESSIVO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${TESSIVO_BUILD_DIR:-$TESSIVO_ROOT/build}

APT_PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libglib2.0-dev libgtk-3-dev libwebkit2gtk-4.1-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev ffmpeg
  libpango1.0-dev libcairo2-dev libfontconfig-dev libzip-dev libgdk-pixbuf-2.0-dev
  nlohmann-json3-dev libgtest-dev googletest
  python3 python3-pytest lua5.4 nodejs npm
  xvfb xauth dbus-x11 fonts-dejavu-core fonts-inter fonts-bebas-neue
)

say() { printf '==> %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

install_apt_packages() {
  local missing=()
  for p in "${APT_PACKAGES[@]}"; do
    # node and npm may come from elsewhere than Debian's packages.
    case $p in nodejs) command -v node >/dev/null && continue ;; npm) command -v npm >/dev/null && continue ;; esac
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    say "Installation des paquets : ${missing[*]}"
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
}

# Every folder of the tree with a package.json gets its node_modules from the
# lock file; skipped when the lock file has not changed since the last install.
install_npm_packages() {
  local lock dir stamp
  while IFS= read -r lock; do
    dir=$(dirname "$lock")
    stamp="$dir/node_modules/.tessivo-installed"
    if [ ! -f "$stamp" ] || [ "$lock" -nt "$stamp" ]; then
      say "npm ci dans ${dir#$TESSIVO_ROOT/}"
      (cd "$dir" && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error) && touch "$stamp"
    fi
    if [ -x "$dir/collect.sh" ]; then "$dir/collect.sh"; fi
  done < <(find "$TESSIVO_ROOT" -name package-lock.json -not -path '*/node_modules/*' -not -path "$TESSIVO_ROOT/build*" | sort)
}

build_tessivo() {
  local dir=${1:-$BUILD_DIR}; shift || true
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$TESSIVO_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  fi
  cmake --build "$dir"
}
