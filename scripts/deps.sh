#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the tools need.
# Runs apt-get directly as root, through sudo otherwise. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libtinyxml-dev liblua5.4-dev libcli11-dev libfmt-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev libinih-dev libsimpleini-dev
  clang libclang-rt-14-dev binutils dpkg-dev file
  valgrind time libcpp-httplib-dev chromium chromium-driver python3-selenium locales
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
