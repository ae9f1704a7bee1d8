#!/usr/bin/env bash
# zdtool.exe under Wine against the simulator built for this machine: a listing, a control
# command, a submission and a template synchronisation print what the native zdtool prints
# (line ends aside: the Windows console writes CR LF) and exit with the same statuses.
# Usage: ToolUnderWine.sh <zdtool.exe> <native zdtool> <native zdsim> <examples folder>
set -euo pipefail
exe="$1" native="$2" zdsim="$3" examples="$4"
runner="$(cd "$(dirname "$0")/../../../scripts" && pwd)/wine-run"

work=$(mktemp -d)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

start_sim() {
  rm -f "$work/port"
  "$zdsim" --port 0 --port-file "$work/port" --farm "$examples/farm.json" \
    --templates "$examples/templates" > "$work/zdsim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 400); do [ -s "$work/port" ] && break; sleep 0.05; done
  [ -s "$work/port" ] || { echo "zdsim did not start"; cat "$work/zdsim.out"; exit 1; }
  port=$(cat "$work/port")
}
stop_sim() { kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; sim_pid=; }

failures=0
# Runs one command line with both programs, each against a fresh farm, and compares.
check() {
  local name="$1"; shift
  start_sim
  rm -rf "$work/home" && mkdir -p "$work/home"
  set +e
  HOME="$work/home" TZ=UTC "$native" -s 127.0.0.1 -port "$port" "$@" > "$work/native.out" 2> "$work/native.err"
  local native_status=$?
  set -e
  stop_sim
  start_sim
  rm -rf "$settings"
  set +e
  TZ=UTC "$runner" "$exe" -s 127.0.0.1 -port "$port" "$@" > "$work/wine.raw" 2> "$work/wine.err"
  local wine_status=$?
  set -e
  stop_sim
  tr -d '\r' < "$work/wine.raw" > "$work/wine.out"
  if [ "$native_status" != "$wine_status" ] || ! cmp -s "$work/native.out" "$work/wine.out"; then
    echo "FAIL $name: status native $native_status, Windows $wine_status"
    diff "$work/native.out" "$work/wine.out" | head -20 || true
    head -5 "$work/wine.err"
    failures=$((failures + 1))
  else
    echo "ok   $name (status $wine_status, $(wc -l < "$work/wine.out") lines)"
  fi
}

mkdir -p "$work/home"
# The Windows tool keeps its cache under the local application data folder; each run starts
# without one, as the native runs do with their empty home.
appdata=$("$runner" cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')
[ -n "$appdata" ] || { echo "no local application data folder under Wine"; exit 1; }
settings="$(winepath -u "$appdata")/.Zendro6"
cache="$settings/templates"
login=(-u admin -p farmadmin -usecache)
check "job listing" "${login[@]}" -q j
check "node listing with columns" "${login[@]}" -q c -cf id,name,ip,status,os
check "statistics" "${login[@]}" -q s
check "control command" "${login[@]}" -jobpr 12 90 -jf id,name,priority,status
# Without -usecache the tool synchronises the templates first, then submits.
check "submission" -u admin -p farmadmin -b -e 110 -n wine_shot -f /projects/demo/shot.lmn -sf 1 -ef 48 -pool render -pr 80
check "wrong password" -u admin -p wrong -usecache

# Synchronisation: the cache folder fills with the farm's templates.
rm -rf "$settings"
start_sim
TZ=UTC "$runner" "$exe" -s 127.0.0.1 -port "$port" -u admin -p farmadmin -v 3 > "$work/sync.out" 2>&1 || true
stop_sim
expected=$(ls "$examples/templates" | wc -l)
found=$( (find "$cache" -maxdepth 1 -type f 2>/dev/null || true) | wc -l)
if [ "$found" -ge "$expected" ] && [ "$expected" -gt 0 ]; then
  echo "ok   template synchronisation ($found files in the cache folder)"
else
  echo "FAIL template synchronisation: $found files in $cache, $expected templates on the farm"
  head -20 "$work/sync.out"
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ]
