#!/usr/bin/env bash
# Installs a build into a prefix inside it, builds the consumer project against that prefix with
# the build's own compiler or toolchain, runs its programs (under the emulator on cross builds)
# and checks what they print. On Windows builds the installed DLLs must export only the public API.
# With ZD_CONSUMER_PREFIX set, the consumers are built against the files already in that prefix
# (unpacked packages, say) and the build folder only holds the work.
# Usage: run.sh <build folder> <generator> <C++ compiler> <build type> [<toolchain> <emulator> <objdump>]
set -euo pipefail
build="$1" generator="$2" compiler="$3" type="$4"
toolchain="${5:-}" emulator="${6:-}" objdump="${7:-}"
source_dir="$(cd "$(dirname "$0")" && pwd)"

work="$build/consumer-test"
prefix="${ZD_CONSUMER_PREFIX:-$work/prefix}"
rm -rf "$work"
mkdir -p "$work/run"

if [ -z "${ZD_CONSUMER_PREFIX:-}" ]; then
  cmake --install "$build" --prefix "$prefix" > "$work/install.log"
fi

configure=(-S "$source_dir" -B "$work/build" -G "$generator" -DCMAKE_BUILD_TYPE="$type"
  -DCMAKE_PREFIX_PATH="$prefix")
if [ -n "$toolchain" ]; then
  configure+=(-DCMAKE_TOOLCHAIN_FILE="$toolchain")
else
  configure+=(-DCMAKE_CXX_COMPILER="$compiler")
fi
if [ -n "${ZD_CONSUMER_FLAGS:-}" ]; then
  configure+=(-DCMAKE_CXX_FLAGS="$ZD_CONSUMER_FLAGS" -DCMAKE_EXE_LINKER_FLAGS="$ZD_CONSUMER_FLAGS")
fi
cmake "${configure[@]}" > "$work/configure.log" || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" > "$work/build.log" || { cat "$work/build.log"; exit 1; }

failures=0
if [ -n "$toolchain" ]; then
  # Windows finds a program's DLLs beside it.
  cp "$prefix"/bin/*.dll "$work/build/"
  program=("$emulator" "$work/build/zr_consumer.exe")
  legacy=("$emulator" "$work/build/zr_legacy_consumer.exe")
else
  program=("$work/build/zr_consumer")
  legacy=("$work/build/zr_legacy_consumer")
fi
actual=$(cd "$work/run" && "${program[@]}" | tr -d '\r')
expected="upper=CONSUMER
md5=900150983cd24fb0d6963f7d28e17f72
base64=aGVsbG8=
after.mutex=ok
after.move=ok"
if [ -n "$toolchain" ]; then
  expected+="
after.system=ok
after.systemmutex=ok"
fi
expected+="
first.mutex=ok
first.move=ok"
if [ -n "$toolchain" ]; then
  expected+="
first.pid=ok"
fi
expected+="
template=job render done"
if [ "$actual" != "$expected" ]; then
  echo "consumer output differs:"
  diff <(echo "$expected") <(echo "$actual") || true
  failures=$((failures + 1))
fi
actual=$(cd "$work/run" && "${legacy[@]}" | tr -d '\r')
expected="legacy.lower=legacy
legacy.template=frames 1-10"
if [ "$actual" != "$expected" ]; then
  echo "legacy consumer output differs:"
  diff <(echo "$expected") <(echo "$actual") || true
  failures=$((failures + 1))
fi

if [ -n "$objdump" ]; then
  # Everything public lives in the ZRFramework namespace (functions, vtables, type information);
  # the platform layer is private, and any of its symbols in an export table is a leak.
  for dll in "$prefix"/bin/*.dll; do
    exports=$("$objdump" -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
      grep -E '^[[:space:]]+\[ *[0-9]+\]' | awk '{print $NF}')
    if [ -z "$exports" ]; then
      echo "$(basename "$dll"): no export table found"
      failures=$((failures + 1))
      continue
    fi
    leaks=$(
      echo "$exports" | grep -Ev '^_Z(N[KVr]*|T[VIS]N|Th[n0-9_]*N)11ZRFramework' || true
      echo "$exports" | grep 'ZRFramework10ZRPlatform' || true
    )
    if [ -n "$leaks" ]; then
      echo "$(basename "$dll") exports symbols outside the public API:"
      echo "$leaks"
      failures=$((failures + 1))
    fi
  done
fi

[ "$failures" -eq 0 ] && echo "consumer build and exports ok"
exit "$failures"
