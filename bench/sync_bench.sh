#!/usr/bin/env bash
# Times whole zdtool runs against zdsim with a cache of N templates already in step, with
# synchronisation and with -usecache, in one run; prints the median of each and their ratio.
# Usage: bench/sync_bench.sh [build dir, default build/release] [templates, 200] [runs, 30]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
count="${2:-200}"
runs="${3:-30}"
zdtool="$build/tool/zdtool"
zdsim="$build/sim/zdsim"

work=$(mktemp -d)
trap 'kill "$sim_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/templates" "$work/home"
sample=examples/templates/lumen_render_multiframe.template
for ((uid = 1000; uid < 1000 + count; uid++)); do
  sed -e "s/^\(\s*SET TEMPLATE_UID\) .*/\1 $uid/" \
      -e "s/^\(\s*SET TEMPLATE_NAME\) .*/\1 \"Bench template $uid\"/" \
      "$sample" > "$work/templates/bench_$uid.template"
done

"$zdsim" --port 0 --port-file "$work/port" --templates "$work/templates" \
  --farm examples/farm.json > /dev/null &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(cat "$work/port")
user=$(grep -o '"name": *"[^"]*"' examples/farm.json | head -1 | sed 's/.*"\([^"]*\)"$/\1/')
pass=$(grep -o '"password": *"[^"]*"' examples/farm.json | head -1 | sed 's/.*"\([^"]*\)"$/\1/')

run() { HOME="$work/home" "$zdtool" -s 127.0.0.1 -port "$port" -u "$user" -p "$pass" -q e "$@" > /dev/null; }
run  # fills the cache
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
time_runs() {
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N); run "$@"; end=$(date +%s%N)
    echo $(((end - start) / 1000))
  done | median
}
# Interleaving would be fairer on a busy machine; alternate blocks instead.
sync_us=$(time_runs)
cache_us=$(time_runs -usecache)
echo "templates=$count runs=$runs"
echo "median with synchronisation: ${sync_us} us"
echo "median with -usecache:       ${cache_us} us"
awk -v a="$sync_us" -v b="$cache_us" 'BEGIN {printf "ratio: %.3f\n", a / b}'
