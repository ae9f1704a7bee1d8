#!/usr/bin/env bash
# Times first synchronisations (empty cache) of a small and a large set of templates against
# zdsim in one run; prints the median of each, their ratio and whether the scaling target holds.
# Usage: bench/sync_scale.sh [build dir, default build/release] [small N, 2000] [large N, 20000]
#                            [runs of small, 5] [runs of large, 3]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
small="${2:-2000}"
large="${3:-20000}"
small_runs="${4:-5}"
large_runs="${5:-3}"
zdtool="$build/tool/zdtool"
zdsim="$build/sim/zdsim"
# The target: the large set costs at most this many times the small one, and under 2 minutes.
max_ratio=13
max_large_us=120000000

sim_pid=
work=$(mktemp -d)
trap '[ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; rm -rf "$work"' EXIT
sample=examples/templates/lumen_render_multiframe.template
user=$(grep -o '"name": *"[^"]*"' examples/farm.json | head -1 | sed 's/.*"\([^"]*\)"$/\1/')
pass=$(grep -o '"password": *"[^"]*"' examples/farm.json | head -1 | sed 's/.*"\([^"]*\)"$/\1/')
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# One awk for every file: a sed per template takes minutes at 20,000.
make_templates() {
  rm -rf "$work/templates"
  mkdir -p "$work/templates"
  awk -v count="$1" -v folder="$work/templates" '
    { line[NR] = $0 }
    END {
      for (uid = 1000; uid < 1000 + count; uid++) {
        file = folder "/bench_" uid ".template"
        for (i = 1; i <= NR; i++) {
          text = line[i]
          if (text ~ /^[ \t]*SET TEMPLATE_UID /) sub(/SET TEMPLATE_UID .*/, "SET TEMPLATE_UID " uid, text)
          else if (text ~ /^[ \t]*SET TEMPLATE_NAME /)
            sub(/SET TEMPLATE_NAME .*/, "SET TEMPLATE_NAME \"Bench template " uid "\"", text)
          print text > file
        }
        close(file)
      }
    }' "$sample"
}

start_sim() {
  rm -f "$work/port"
  "$zdsim" --port 0 --port-file "$work/port" --templates "$work/templates" \
    --farm examples/farm.json > /dev/null &
  sim_pid=$!
  # zdsim parses every template before it listens; give a large set time.
  for _ in $(seq 12000); do
    [ -s "$work/port" ] && break
    kill -0 "$sim_pid" 2>/dev/null || { echo "zdsim ended before listening" >&2; exit 1; }
    sleep 0.05
  done
  [ -s "$work/port" ] || { echo "zdsim did not announce its port" >&2; exit 1; }
  port=$(cat "$work/port")
}

stop_sim() {
  kill "$sim_pid"
  wait "$sim_pid" || true
  sim_pid=
}

# One first synchronisation: a new home, so the cache folder starts empty. The homes of earlier
# runs are removed only at the end: removing thousands of files just before a run makes the
# file system busy during it.
first_sync_us() {
  local count=$1 home
  home=$(mktemp -d "$work/home.XXXXXX")
  local start end
  start=$(date +%s%N)
  HOME="$home" "$zdtool" -s 127.0.0.1 -port "$port" -u "$user" -p "$pass" -q e > /dev/null
  end=$(date +%s%N)
  local stored
  stored=$(find "$home/.Zendro6/templates" -maxdepth 1 -name '*.template' | wc -l)
  if [ "$stored" -ne "$count" ]; then
    echo "the cache holds $stored templates, expected $count" >&2
    exit 1
  fi
  echo $(((end - start) / 1000))
}

# Leaves the median in `result`. Runs in this shell, so the trap knows the simulator.
time_set() {
  local count=$1 runs=$2 i
  make_templates "$count"
  start_sim
  first_sync_us "$count" > /dev/null  # warm-up, not counted
  : > "$work/times"
  for ((i = 0; i < runs; i++)); do first_sync_us "$count" >> "$work/times"; done
  stop_sim
  result=$(median < "$work/times")
}

time_set "$small" "$small_runs"
small_us=$result
time_set "$large" "$large_runs"
large_us=$result
echo "build=$build"
echo "median first synchronisation of $small templates ($small_runs runs): ${small_us} us"
echo "median first synchronisation of $large templates ($large_runs runs): ${large_us} us"
awk -v a="$large_us" -v b="$small_us" -v r="$max_ratio" -v t="$max_large_us" 'BEGIN {
  ratio = a / b
  printf "ratio: %.3f\n", ratio
  printf "target (ratio <= %d, large under %d s): %s\n", r, t / 1000000,
         (ratio <= r && a < t) ? "met" : "not met"
}'
