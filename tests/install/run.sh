#!/usr/bin/env bash
# The installed system: a build installed into a temporary prefix must find
# its libraries (RUNPATH per target) and its firmware (share/qel4410), run a
# programming job with the installed qel-flash on the default bench, and say
# what is missing when the firmware is not there; the Debian packages must
# build and hold the libraries, tools, firmware and desktop files.
#   tests/install/run.sh [BUILD_FOLDER]   (default build/debug)
set -euo pipefail
build=$(cd "${1:-build/debug}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(cd "$prefix" && ls -d lib*/qel4410 | head -1)
[ -n "$libdir" ] || fail "no lib/qel4410 in the prefix"

runpath() { readelf -d "$1" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p'; }
for program in qel-flash qel-bench Quillon; do
  [ "$(runpath "$prefix/bin/$program")" = "\$ORIGIN/../$libdir" ] ||
    fail "$program has RUNPATH '$(runpath "$prefix/bin/$program")'"
done
for library in "$prefix/$libdir"/*.so; do
  [ "$(runpath "$library")" = "\$ORIGIN" ] || fail "$library has RUNPATH '$(runpath "$library")'"
done

# A job with the installed programs only: fresh settings and flash images.
export QEL4410_REGISTRY=$work/registry QEL4410_BENCH_STATE=$work/state
unset QEL4410_BENCH QEL4410_BENCH_TIMING QEL4410_TIMDATA
flash=$prefix/bin/qel-flash
"$flash" --version | grep -q '^qel-flash [0-9]' || fail "qel-flash --version"
"$flash" -q program 0 0 --tim QT-6201 --bootloader standard --bitstream standard \
  --add exec "$prefix/share/qel4410/samples/hello.out" --id 1 --bootable \
  --dynamic 0x80000100=42 >"$work/job.txt" 2>"$work/job-err.txt" ||
  fail "the programming job failed: $(cat "$work/job.txt" "$work/job-err.txt")"
grep -q '^Committed: ' "$work/job.txt" || fail "no commit: $(cat "$work/job.txt")"
grep -q "share/qel4410/bootloaders" "$QEL4410_REGISTRY/HKEY_LOCAL_MACHINE.reg" ||
  fail "the engine folders do not point at share/qel4410"
"$flash" show 0 0 >"$work/show.txt"
grep -q 'user executable' "$work/show.txt" || fail "show: $(cat "$work/show.txt")"
"$prefix/bin/qel-bench" show 0 0 | grep -q 'CRC good' || fail "qel-bench show"

# Completion of commands, --add kinds, TIM names and fault kinds, as bash
# asks for it (with or without the bash-completion package).
completions() {
  local function=$1; shift
  bash -c 'source "$1"; shift; PATH=$1:$PATH; shift; f=$1; shift
           COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()
           "$f"; echo "${COMPREPLY[*]}"' _ \
    "$prefix/share/bash-completion/completions/qel-flash" "$prefix/bin" "$function" "$@"
}
[ "$(completions _qel_flash qel-flash "")" = "list tims show program erase verify" ] ||
  fail "completion of the commands: $(completions _qel_flash qel-flash "")"
[ "$(completions _qel_flash qel-flash program 0 0 --add "")" = "exec app data srec" ] ||
  fail "completion of the --add kinds"
completions _qel_flash qel-flash show 0 0 --tim QT-62 | grep -qw QT-6201 ||
  fail "completion of the TIM names: $(completions _qel_flash qel-flash show 0 0 --tim QT-62)"
[ "$(completions _qel_bench qel-bench fault 0 0 power)" = "power-cut" ] ||
  fail "completion of the fault kinds"

# Without the firmware: a message naming what is missing and where it looked.
mv "$prefix/share/qel4410" "$work/firmware-aside"
set +e
QEL4410_REGISTRY=$work/registry-empty "$flash" list >/dev/null 2>"$work/missing.txt"
set -e
mv "$work/firmware-aside" "$prefix/share/qel4410"
grep -q 'BootloaderPath, BitstreamPath, FprogPath not set' "$work/missing.txt" &&
  grep -q "$prefix/share/qel4410" "$work/missing.txt" || fail "no clear message: $(cat "$work/missing.txt")"

# The packages and their file lists.
(cd "$build" && cpack -G DEB -B "$work/packages" >"$work/cpack.txt" 2>&1) ||
  fail "cpack: $(cat "$work/cpack.txt")"
contents() { dpkg-deb -c "$work"/packages/qel4410-"$1"_*.deb | awk '{ print $6 }'; }
expect() {
  local package=$1; shift
  local list; list=$(contents "$package")
  for file in "$@"; do
    grep -qx "\./usr/$file" <<<"$list" || fail "qel4410-$package lacks /usr/$file"
  done
}
expect tools bin/qel-flash bin/Quillon lib/qel4410/libTelmar.so lib/qel4410/libQelTimInfo.so \
  lib/qel4410/timdata/QT-6201.tim share/man/man1/qel-flash.1 share/man/man1/Quillon.1 \
  share/bash-completion/completions/qel-flash
expect bench bin/qel-bench lib/qel4410/libqel_bench.so lib/qel4410/libQelDrv.so \
  share/qel4410/bootloaders/bl_qt6201.out share/qel4410/programmers/fp_qt6201.out \
  share/qel4410/bitstreams/qt6201_v1p0.sbf share/qel4410/samples/hello.out \
  share/man/man1/qel-bench.1
if ls "$work"/packages/qel4410-gui_*.deb >/dev/null 2>&1; then
  expect gui bin/Gorlin share/applications/gorlin.desktop share/icons/hicolor/48x48/apps/gorlin.png
  dpkg-deb --fsys-tarfile "$work"/packages/qel4410-gui_*.deb |
    tar -xOf - ./usr/share/applications/gorlin.desktop | grep -qx 'Exec=/usr/bin/Gorlin' ||
    fail "the desktop entry does not name /usr/bin/Gorlin"
  dpkg-deb -f "$work"/packages/qel4410-gui_*.deb Depends | grep -q 'qel4410-tools' ||
    fail "qel4410-gui does not depend on qel4410-tools"
fi
depends=$(dpkg-deb -f "$work"/packages/qel4410-tools_*.deb Depends)
for needed in qel4410-bench libc6 libstdc++6 zlib1g; do
  grep -q "$needed" <<<"$depends" || fail "qel4410-tools does not depend on $needed: $depends"
done
echo "install test: passed"
