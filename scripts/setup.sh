#!/usr/bin/env bash
# Installs everything the launcher's build, tests and demo need on a bare Debian 12 machine, then
# builds the third-party libraries from Debian's own source packages into a cache outside the
# clone. Idempotent: a second run only checks what is already there.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/common.sh
. "$here/common.sh"

packages=(
  mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
  cmake ninja-build make dpkg-dev
  wine wine64 xvfb x11-utils
  7zip p7zip-full libarchive-tools googletest
  python3 python3-pil imagemagick fonts-wqy-microhei fonts-dejavu-core
  autoconf automake libtool g++ pkg-config libsodium-dev libjsoncpp-dev libgtest-dev
  tinyproxy
)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

missing_packages() {
  local p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || echo "$p"
  done
}

enable_deb_src() {
  local list=/etc/apt/sources.list.d/quenby-deb-src.sources
  [ -f "$list" ] && return 0
  # The same mirrors as the binary entries, as source entries.
  as_root tee "$list" >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  apt_updated=""
}

apt_updated=""
apt_update() {
  [ -n "$apt_updated" ] && return 0
  # A mirror mid-sync may fail one index; what counts is whether the packages install.
  as_root apt-get update -q >&2 || echo "setup: apt-get update reported an error; going on" >&2
  apt_updated=1
}

install_packages() {
  local missing
  missing=$(missing_packages)
  [ -z "$missing" ] && return 0
  apt_update
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -q --no-install-recommends $missing >&2
  missing=$(missing_packages)
  if [ -n "$missing" ]; then
    echo "setup: could not install: $missing" >&2
    exit 1
  fi
}

# Newest version of a source package that apt knows.
source_version() {
  apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/ {print $2}' | sort -V | tail -n 1
}

# Unpacks one Debian source package (signature checked, Debian patches applied) below the cache.
fetch_source() {
  local pkg=$1 ver dir
  ver=$(source_version "$pkg")
  if [ -z "$ver" ]; then
    apt_update
    ver=$(source_version "$pkg")
  fi
  [ -n "$ver" ] || { echo "setup: no source package $pkg" >&2; exit 1; }
  dir="$DEPS_CACHE/src/$pkg-$ver"
  if [ ! -f "$dir/.complete" ]; then
    rm -rf "$dir.tmp" "$dir"
    mkdir -p "$dir.tmp"
    (cd "$dir.tmp" && apt-get source -q "$pkg=$ver" >&2)
    local tree
    tree=$(find "$dir.tmp" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    mv "$tree" "$dir"
    rm -rf "$dir.tmp"
    touch "$dir/.complete"
  fi
  echo "$dir"
}

cmake_install() { # name srcdir arch extra-args...
  local name=$1 src=$2 arch=$3; shift 3
  local prefix="$DEPS_CACHE/$arch/$name"
  if [ -f "$prefix/.complete" ]; then echo "$prefix"; return 0; fi
  local work="$DEPS_CACHE/$arch/build-$name"
  rm -rf "$work" "$prefix"
  cmake -S "$src" -B "$work" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$REPO/cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@" >&2
  cmake --build "$work" >&2
  cmake --install "$work" >&2
  rm -rf "$work"
  touch "$prefix/.complete"
  echo "$prefix"
}

# libsodium's autotools build for MinGW, static, with only what signatures need. Prints its prefix.
sodium_install() { # srcdir arch
  local src=$1 arch=$2
  local name
  name="sodium-$(basename "$src")"
  local prefix="$DEPS_CACHE/$arch/$name"
  if [ -f "$prefix/.complete" ]; then echo "$prefix"; return 0; fi
  if [ ! -f "$src/.configure-made" ]; then
    (cd "$src" && autoreconf -fi >&2)
    touch "$src/.configure-made"
  fi
  local work="$DEPS_CACHE/$arch/build-$name"
  rm -rf "$work" "$prefix"
  mkdir -p "$work"
  (cd "$work" && "$src/configure" --host="$arch-w64-mingw32" CC="$arch-w64-mingw32-gcc-posix" \
      --prefix="$prefix" --enable-minimal --disable-shared --enable-static \
      --disable-dependency-tracking >&2 && make -j"$(nproc)" >&2 && make install >&2)
  rm -rf "$work"
  touch "$prefix/.complete"
  echo "$prefix"
}

build_dependencies() {
  local curl_src jsoncpp_src sdk_src sodium_src arch
  curl_src=$(fetch_source curl)
  jsoncpp_src=$(fetch_source libjsoncpp)
  sdk_src=$(fetch_source 7zip)
  sodium_src=$(fetch_source libsodium)
  local gtest_ver
  gtest_ver=$(dpkg-query -W -f='${Version}' googletest)
  for arch in i686 x86_64; do
    local curl jsoncpp gtest curltool sodium
    # HTTP and HTTPS only, over Windows' own TLS (Schannel) and the system's trusted roots.
    curl=$(cmake_install "curl-schannel-$(basename "$curl_src")" "$curl_src" "$arch" \
      -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DHTTP_ONLY=ON \
      -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_ZLIB=OFF -DUSE_LIBIDN2=OFF \
      -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBPSL=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
      -DENABLE_UNIX_SOCKETS=OFF -DBUILD_TESTING=OFF -DCURL_DISABLE_LDAP=ON -DENABLE_MANUAL=OFF)
    jsoncpp=$(cmake_install "jsoncpp-$(basename "$jsoncpp_src")" "$jsoncpp_src" "$arch" \
      -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF \
      -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF)
    gtest=$(cmake_install "googletest-$gtest_ver" /usr/src/googletest "$arch" \
      -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -Dgtest_disable_pthreads=OFF)
    sodium=$(sodium_install "$sodium_src" "$arch")
    cat >"$DEPS_CACHE/$arch/current.cmake.tmp" <<EOF
# Written by scripts/setup.sh: where this machine's dependency builds for $arch live.
set(QUENBY_CURL_PREFIX "$curl")
set(QUENBY_JSONCPP_PREFIX "$jsoncpp")
set(QUENBY_GTEST_PREFIX "$gtest")
set(QUENBY_LZMA_SDK_DIR "$sdk_src/C")
set(QUENBY_SODIUM_PREFIX "$sodium")
EOF
    mv "$DEPS_CACHE/$arch/current.cmake.tmp" "$DEPS_CACHE/$arch/current.cmake"
  done
}

# curl's own command-line tool from the same sources, for the download benchmark (x86_64, the
# architecture Wine runs here). Prints its path.
build_curl_tool() {
  local curl_src prefix
  curl_src=$(fetch_source curl)
  prefix=$(cmake_install "curl-tool-$(basename "$curl_src")" "$curl_src" x86_64 \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=ON -DHTTP_ONLY=ON \
    -DCURL_USE_SCHANNEL=OFF -DCURL_USE_OPENSSL=OFF -DCURL_ZLIB=OFF -DUSE_LIBIDN2=OFF \
    -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBPSL=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
    -DENABLE_UNIX_SOCKETS=OFF -DBUILD_TESTING=OFF -DCURL_DISABLE_LDAP=ON -DENABLE_MANUAL=OFF \
    -DCMAKE_EXE_LINKER_FLAGS=-static)
  echo "$prefix/bin/curl.exe"
}

mkdir -p "$DEPS_CACHE"
enable_deb_src
install_packages
# The tests start a proxy of their own; the package's system service is not wanted.
if command -v service >/dev/null && pgrep -x tinyproxy >/dev/null 2>&1; then
  as_root service tinyproxy stop >/dev/null 2>&1 || true
fi
if ! apt-cache showsrc curl >/dev/null 2>&1 || [ -z "$(source_version curl)" ]; then apt_update; fi
build_dependencies
echo "setup: ready (dependencies in $DEPS_CACHE)" >&2
if [ "${1:-}" = "--curl-tool" ]; then build_curl_tool; fi
