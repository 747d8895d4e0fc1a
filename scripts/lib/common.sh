# Shared by the scripts: the project root, and the one place that installs what the build and the
# tests need on a fresh Debian machine.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Debian packages: the host build with GoogleTest, clang with clang-tidy for the fuzzers and the
# lint, the mingw-w64 cross compilers (the launcher is i686; the sample and test installers also
# come as x86_64), Wine with its 32-bit part, gcab, osslsigncode and openssl for signing,
# libcrypto (libssl-dev) with which the native stand-in hashes the package cabinet, and pytest for
# the end-to-end tests.
REQUIRED_PACKAGES=(cmake ninja-build g++ googletest libgtest-dev python3 python3-pytest clang-tidy clang
  gcc-mingw-w64-i686 g++-mingw-w64-i686 binutils-mingw-w64-i686 gcc-mingw-w64-x86-64
  wine wine64 wine32:i386 gcab osslsigncode openssl libssl-dev)

install_packages() {
  local missing=()
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  if ! dpkg --print-foreign-architectures | grep -qx i386; then $sudo dpkg --add-architecture i386; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

install_requirements() {
  install_packages "${REQUIRED_PACKAGES[@]}"
  # libFuzzer's runtime comes in a package named after clang's major version: the one that the
  # installed clang needs, whatever the Debian release.
  install_packages "libclang-rt-$(clang -dumpversion | cut -d. -f1)-dev"
}

build_windows() {
  cmake --preset windows >/dev/null
  cmake --build --preset windows
}

# Prints the path of the package tools' native helper (tools/package_inspect), built with the tools
# preset when it is missing or older than its sources; PACKAGE_INSPECT names another build of it.
package_inspect_program() {
  if [ -n "${PACKAGE_INSPECT:-}" ]; then
    echo "$PACKAGE_INSPECT"
    return
  fi
  mkdir -p "$ROOT/build"
  local log="$ROOT/build/tools-build.log"
  # ninja rebuilds only what changed; the lock keeps two tools that start at once from building
  # into the same folder.
  if ! (
    cd "$ROOT"
    flock 9
    if [ ! -f build/tools/build.ninja ]; then cmake --preset tools; fi
    cmake --build --preset tools
  ) 9>"$ROOT/build/.tools.lock" >"$log" 2>&1; then
    cat "$log" >&2
    echo "could not build the native helper: cmake --preset tools && cmake --build --preset tools" >&2
    return 1
  fi
  echo "$ROOT/build/tools/package_inspect"
}
