# Shared by the scripts: the project root, and the one place that installs what the build and the
# tests need on a fresh Debian machine.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

# Debian packages: the host build with GoogleTest, clang with clang-tidy for the fuzzers and the
# lint, the mingw-w64 cross compilers (the launcher is i686; the sample and test installers also
# come as x86_64), Wine with its 32-bit part, gcab, osslsigncode and openssl for signing,
# libcrypto (libssl-dev) with which the native stand-in hashes the package cabinet, the package
# tool's Python libraries, pytest for the package tool's and the end-to-end tests, flake8 and mypy
# for the Python half's gates, and dpkg-dev and lintian for the Debian package of the package tool
# (scripts/release) and its test.
REQUIRED_PACKAGES=(cmake ninja-build g++ googletest libgtest-dev python3 python3-pytest clang-tidy clang
  gcc-mingw-w64-i686 g++-mingw-w64-i686 binutils-mingw-w64-i686 gcc-mingw-w64-x86-64
  wine wine64 wine32:i386 gcab osslsigncode openssl libssl-dev python3-pefile python3-pathspec python3-cryptography
  flake8 mypy dpkg-dev lintian)

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

# The Python half's gates: flake8 (pyflakes and pycodestyle, as .flake8 sets them) over every
# Python file, and mypy (mypy.ini) over the package tool. Fails on the first finding.
check_python() {
  (cd "$ROOT" && git ls-files '*.py' scripts/mutate packaging/printer-package-tool | xargs flake8 &&
    mypy scripts/packagetool)
}

build_windows() {
  cmake --preset windows >/dev/null
  cmake --build --preset windows
}
