#!/usr/bin/env bash
# sdk_example_test.sh BUILD_DIR TEST_SOURCE_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$2" && pwd)
work=$(mktemp -d /tmp/zyt-sdk.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Each step gets a watchdog: a hang is a failure, not a stuck ctest.
run() { timeout 60 "$@"; }

prefix=$work/prefix
run cmake --install "$build" --prefix "$prefix" >/dev/null

# The installed tree stands alone: no text file and no run path names the build tree.
if grep -rIl -- "$build" "$prefix"; then fail "installed files name the build tree"; fi
for f in "$prefix"/bin/* "$prefix"/lib/*.so "$prefix"/lib/zytfilters/*.dll.so; do
  if readelf -d "$f" | grep -E 'R(UN)?PATH' | grep -q -- "$build"; then fail "$f runs from the build tree"; fi
done
for f in zytfilt zyt-monitor; do [ -x "$prefix/bin/$f" ] || fail "bin/$f missing"; done
for f in zytfilters zytcomponents pdffilt; do [ -f "$prefix/lib/zytfilters/$f.dll.so" ] || fail "module $f missing"; done

# A private machine: registry, settings, home, temporary folder, pipes, named objects.
machine=$work/machine
mkdir -m 700 "$machine" "$machine/home" "$machine/tmp"
export ZYT_REGISTRY=$machine/registry.db ZYT_SETTINGS=$machine/settings.xml HOME=$machine/home
export XDG_DATA_HOME=$machine/home/.local/share TMPDIR=$machine/tmp ZYT_PIPE_DIR=$machine/pipes
export ZYT_THUMBNAILS=$machine/thumbnails.db ZYT_OBJECT_NAMESPACE=zsdk${work##*.}
unset ZYT_MODULE_DIR ZYT_REGISTRY_READONLY
export PATH=$prefix/bin:$PATH
trap 'rm -rf "$work" /dev/shm/sem.${ZYT_OBJECT_NAMESPACE}* /dev/shm/${ZYT_OBJECT_NAMESPACE}*' EXIT

out=$(run zytfilt setup)
grep -qx "modules:  $prefix/lib/zytfilters" <<<"$out" || fail "the installed zytfilt looks for its modules elsewhere: $out"

# The example, built outside the tree from the copy the SDK installed, as the
# README shows it.
example=$prefix/share/zytfilters/examples/csvfilter
mkdir "$work/example"
cd "$work/example"
PKG_CONFIG_PATH=$prefix/lib/pkgconfig run make -s -f "$example/Makefile" >/dev/null
[ -f csvfilter.dll.so ] || fail "the example did not build"
exports() { nm -D --defined-only "$1" | awk '$2 == "T" {print $3}' | sort | tr '\n' ' '; }
want='DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer '
[ "$(exports csvfilter.dll.so)" = "$want" ] || fail "the module exports: $(exports csvfilter.dll.so)"
# The same with CMake's find_package, from the copy of the example the SDK installed.
run cmake -S "$prefix/share/zytfilters/examples/csvfilter" -B "$work/cmake-example" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
run cmake --build "$work/cmake-example" >/dev/null
[ "$(exports "$work/cmake-example/csvfilter.dll.so")" = "$want" ] || fail "the CMake-built module exports the wrong symbols"

sample=$work/example/composers.csv
cp "$example/sample.csv" "$sample"
printf 'City\tRiver\nVellmark\t"Ostra"\n' >"$work/example/places.TSV"

# Before registration the adapter has no simple filter for .csv: no words.
before=$(run zytfilt dump --json "$sample" 2>&1 || true)
if grep -q Nocturne <<<"$before"; then fail "words came out before the filter was registered"; fi

run "$example/register.sh" >/dev/null

json=$(run zytfilt dump --json "$sample")
expect() { grep -qF -- "$1" <<<"$json" || fail "dump lacks $1: $json"; }
# The rows as text, the quoted field unquoted.
expect 'Orrery Nocturne Adelheid Quist 1887 slow, then \"presto\"'
expect 'Brass Meridian Tomasz Velloway 1902'
# The fields as properties named by the header row; an empty field gives none.
property() { grep -F "\"propname\":\"$1\"" <<<"$2" | grep -qF "\"text\":\"$3\"" || fail "no property $1 = $3: $2"; }
property Composer "$json" 'Adelheid Quist'
property Composer "$json" 'Tomasz Velloway'
property Notes "$json" 'slow, then \"presto\"'
[ "$(grep -o '"Notes"' <<<"$json" | wc -l)" = 1 ] || fail "Notes should be a property of the first row only: $json"
if grep -q 'Title Composer Year Notes' <<<"$json"; then fail "the header row came out as text: $json"; fi

# Tab-separated, with quotes kept as they are; the extension's case does not matter.
tsv=$(run zytfilt dump --json "$work/example/places.TSV")
grep -qF 'Vellmark \"Ostra\"' <<<"$tsv" || fail "tsv row: $tsv"
property River "$tsv" '\"Ostra\"'

# A FIFO named like a table is refused, not waited on.
mkfifo -m 600 "$work/example/pipe.csv"
rc=0
run zytfilt dump --json "$work/example/pipe.csv" >/dev/null 2>&1 || rc=$?
[ $rc -ne 124 ] || fail "a FIFO made the filter wait"

# The protocol check: the example passes it; a filter whose chunk id is 0,
# built with a plain c++ command line, is caught by it and only by it.
run zytfilt dump --check "$sample" >/dev/null || fail "the example breaks the protocol"
flags=$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --cflags --libs zytfilters)
exports_file=$(PKG_CONFIG_PATH=$prefix/lib/pkgconfig pkg-config --variable=versionscript zytfilters)
# shellcheck disable=SC2086 # the flags are words
run c++ -fPIC -shared -o zeroid.dll.so "$here/ZeroIdFilter.cpp" $flags \
  -Wl,--version-script="$exports_file" -Wl,--no-undefined -Wl,-Bsymbolic
run zytfilt register "$work/example/zeroid.dll.so" >/dev/null
zeroid='{5C1B7E02-93A4-4F0D-8E61-2B7D40C9A3F5}'
run zytfilt dump --class "$zeroid" "$sample" >/dev/null || fail "dump without --check refused the zero-id filter"
rc=0
run zytfilt dump --check --class "$zeroid" "$sample" >/dev/null 2>"$work/check.err" || rc=$?
[ $rc -eq 1 ] || fail "dump --check of the zero-id filter exited $rc"
grep -q 'chunk #1: idChunk is 0' "$work/check.err" || fail "dump --check did not name the breach: $(cat "$work/check.err")"

# Unregistered, the words are gone again.
run zytfilt unregister "$work/example/csvfilter.dll.so" >/dev/null
after=$(run zytfilt dump --json "$sample" 2>&1 || true)
if grep -q Nocturne <<<"$after"; then fail "words came out after the filter was unregistered"; fi
echo "sdk example: ok"
