#!/usr/bin/env bash
# Install and package check, in a scratch directory of its own: builds a copy
# of the sources, installs it into a fresh prefix, copies the installed tree
# elsewhere, deletes the build, the source copy and the first prefix, and runs
# rulehost demo / check / simulate and the example host from the copy; then
# builds the Debian packages, unpacks them into a scratch root (dpkg-deb -x,
# nothing installed on this machine) and runs the example host and
# rulehost demo from there.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
work=$(mktemp -d /tmp/gamerules-install-check.XXXXXX)
trap 'rm -rf "$work"' EXIT

step() { echo "-- $*"; }
fail() { echo "install check FAILED: $*" >&2; exit 1; }

step "sources copied to $work/src (committed and uncommitted files)"
mkdir -p "$work/src"
git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -xf - -C "$work/src"

step "plug-in alone (-DGAMERULES_HOST=OFF) looks for TinyXML only"
cmake -S "$work/src" -B "$work/build-plugin" -G Ninja -DGAMERULES_HOST=OFF >/dev/null
if grep -Eiq '^(LUA_|fmt_DIR|nlohmann_json_DIR|CLI11_)' "$work/build-plugin/CMakeCache.txt"; then
  fail "the plug-in-only configuration looked for a host dependency"
fi
rm -rf "$work/build-plugin"

step "build and install into a fresh prefix"
cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DGAMERULES_TESTS=OFF -DGAMERULES_BENCH=OFF >/dev/null
cmake --build "$work/build"
cmake --install "$work/build" --prefix "$work/prefix" >/dev/null
step "packages"
(cd "$work/build" && cpack -G DEB -B "$work/packages" >/dev/null)

step "installed tree copied, build, sources and first prefix deleted"
cp -a "$work/prefix" "$work/copy"
rm -rf "$work/prefix" "$work/build" "$work/src"
copy=$work/copy
for f in bin/rulehost lib/gamerules/libgamerules.so share/gamerules/resources/Npc/ModelProb.ini \
         share/doc/gamerules/README.md include/gamerules/IKernel.h \
         include/gamerules/hostkit/KernelBase.h lib/cmake/gamerules/gamerulesConfig.cmake \
         lib/pkgconfig/gamerules.pc; do
  [ -e "$copy/$f" ] || fail "$f is not installed"
done
soname=$(objdump -p "$copy/lib/gamerules/libgamerules.so" | awk '/SONAME/ {print $2}')
[ "$soname" = "libgamerules.so.1" ] || fail "soname is '$soname'"

step "rulehost demo / check / simulate from the copy"
(cd "$work" && "$copy/bin/rulehost" demo >"$work/demo.txt") || fail "rulehost demo (see above)"
(cd "$work" && "$copy/bin/rulehost" check) || fail "rulehost check"
(cd "$work" && "$copy/bin/rulehost" simulate --creator 1 --selects 2000 --no-progress >/dev/null) ||
  fail "rulehost simulate"
(cd "$work" && "$copy/bin/rulehost" modules >"$work/modules.txt") || fail "rulehost modules"
grep -qx "plug-in: $copy/lib/gamerules/libgamerules.so" "$work/modules.txt" ||
  fail "rulehost does not default to the plug-in beside it: $(head -1 "$work/modules.txt")"

build_example() {  # prefix build-dir
  cmake -S "$repo/examples/minimal_host" -B "$2" -G Ninja -DCMAKE_PREFIX_PATH="$1" \
        -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null
  grep -q "^gamerules_DIR:PATH=$1/" "$2/CMakeCache.txt" || fail "find_package(gamerules) did not use $1"
  cmake --build "$2" >/dev/null
  "$2/minimal_host" | tee "$2/out.txt"
  grep -q '^encounter of creator 1: ' "$2/out.txt" || fail "the example host printed no encounter"
}
step "example host built against the copy (find_package)"
build_example "$copy" "$work/example-copy"
step "example host built against the copy (pkg-config)"
export PKG_CONFIG_PATH="$copy/lib/pkgconfig"
c++ -std=c++17 -o "$work/example-pc" "$repo/examples/minimal_host/main.cpp" \
    $(pkg-config --cflags gamerules) \
    -DMINIMAL_HOST_PLUGIN="\"$(pkg-config --variable=plugin gamerules)\"" \
    -DMINIMAL_HOST_RESOURCES="\"$(pkg-config --variable=resourcedir gamerules)\"" \
    $(pkg-config --libs gamerules)
"$work/example-pc" 2 >"$work/example-pc.txt" || fail "the pkg-config build of the example failed"
grep -q '^encounter of creator 2: ' "$work/example-pc.txt" || fail "the pkg-config build printed no encounter"
unset PKG_CONFIG_PATH

step "packages unpacked into a scratch root"
ls "$work/packages"/*.deb
for p in gamerules gamerules-dev; do
  deb=$(ls "$work/packages/${p}_"*.deb)
  dpkg-deb -I "$deb" | sed -n '/Package:/p;/Depends:/p'
  dpkg-deb -x "$deb" "$work/root"
done
depends=$(dpkg-deb -f "$(ls "$work/packages/gamerules_"*.deb)" Depends)
for lib in libtinyxml liblua5.4 libstdc++6 libc6; do
  case "$depends" in *"$lib"*) ;; *) fail "gamerules does not depend on $lib: $depends" ;; esac
done
(cd "$work" && "$work/root/usr/bin/rulehost" demo >/dev/null) || fail "rulehost demo from the unpacked packages"
build_example "$work/root/usr" "$work/example-root"
echo "install check passed"
