#!/usr/bin/env bash
# Times zdtool's first synchronisation of one large template against zdsim, whose plain template-reply
# frame is about 4 MiB and about 40 MiB, in one run; prints the median of each and their ratio.
# Usage: bench/frame_bench.sh [build dir, default build/release] [runs, 3]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
runs="${2:-3}"
zdtool="$build/tool/zdtool"
zdsim="$build/sim/zdsim"

work=$(mktemp -d)
sim_pid=
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
sample=examples/templates/lumen_render_multiframe.template

# A template of `bytes` bytes: the sample followed by comment lines (the frame carries its
# Base64, 4/3 of that).
make_template() {
  local folder=$1 bytes=$2
  mkdir -p "$folder"
  {
    cat "$sample"
    awk -v n="$bytes" 'BEGIN { line = "# padding padding padding padding padding padding padding pad"
      for (i = 0; i < n / 64; i++) print line }'
  } > "$folder/big.template"
}

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# Median wall time in microseconds of a first synchronisation of the template in `folder`.
time_sync() {
  local folder=$1
  rm -f "$work/port"
  "$zdsim" --port 0 --port-file "$work/port" --templates "$folder" \
    --farm examples/farm.json > /dev/null &
  sim_pid=$!
  for _ in $(seq 200); do [ -s "$work/port" ] && break; sleep 0.05; done
  local port
  port=$(cat "$work/port")
  for ((i = 0; i < runs; i++)); do
    rm -rf "$work/home"; mkdir -p "$work/home"
    start=$(date +%s%N)
    HOME="$work/home" "$zdtool" -s 127.0.0.1 -port "$port" -u admin -p farmadmin -q e \
      > /dev/null
    end=$(date +%s%N)
    [ -s "$work/home/.Zendro6/templates/big.template" ] || { echo "template not stored" >&2; exit 1; }
    echo $(((end - start) / 1000))
  done | median
  kill "$sim_pid"; wait "$sim_pid" 2>/dev/null || true; sim_pid=
}

make_template "$work/small" $((3 * 1024 * 1024))
make_template "$work/large" $((30 * 1024 * 1024))
small_us=$(time_sync "$work/small")
large_us=$(time_sync "$work/large")
echo "runs=$runs"
echo "median, 4 MiB frame:  ${small_us} us"
echo "median, 40 MiB frame: ${large_us} us"
awk -v a="$large_us" -v b="$small_us" 'BEGIN {printf "ratio: %.2f\n", a / b}'
