# Shared by the scripts: where things are, and installing what a fresh Debian machine lacks.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SHARED=$(cd "$ROOT/.." && pwd)/shared
JOBS=${JOBS:-2}

# Build dependencies: compiler, CMake, Ninja, GoogleTest, the engines of the PDF and HTML
# converter libraries, and libseccomp for the confinement of a conversion.
BUILD_PACKAGES="g++ cmake ninja-build pkg-config libgtest-dev libpoppler-cpp-dev libxml2-dev libuchardet-dev libseccomp-dev"

# Installs the Debian packages given that are not installed yet.
ensure_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}" >&2
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  fi
}

# configure_build DIR [cmake options...]: configures once; later runs only build.
configure_build() {
  local dir=$1; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >&2
  fi
}
