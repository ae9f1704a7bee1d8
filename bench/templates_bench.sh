#!/usr/bin/env bash
# Runs bench_templates' parse, MD5 and registration timings several times and prints their
# medians with the two ratios the engine is held to: parse throughput against MD5's on the same
# bytes, and registering 10,000 shuffled templates against 1,000; beside them, what merely copying
# the texts costs at both sizes, the floor under the second ratio.
# Usage: bench/templates_bench.sh [build dir, default build/release]
#   Environment: RUNS (default 5) processes per program, each with 3 repetitions;
#   BASELINE: another bench_templates (an earlier build) run alternately with this one, so that
#   both see the same load. Shared machines drift: only figures from one run compare.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
runs="${RUNS:-5}"
programs=("$build/bench/bench_templates")
[ -n "${BASELINE:-}" ] && programs+=("$BASELINE")
for program in "${programs[@]}"; do
  if [ ! -x "$program" ]; then
    echo "templates_bench: $program is missing; build it with" >&2
    echo "  cmake --preset release && cmake --build --preset release --target bench_templates" >&2
    exit 1
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
filter='BM_ParseCache|BM_Md5Cache|BM_RegisterShuffled|BM_TextCopyShuffled'
for ((run = 1; run <= runs; run++)); do
  for which in "${!programs[@]}"; do
    "${programs[$which]}" --benchmark_filter="$filter" --benchmark_repetitions=3 \
      --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null |
      awk -F, -v w="$which" -v r="$run" '$1 ~ /_median"$/ {
        name = $1; gsub(/"|_median/, "", name); print w, r, name, $3 }' >>"$work/times"
  done
done

# Per run: the two ratios; then the median over runs of every figure.
awk '
  { t[$1, $2, $3] = $4; runs[$2] = 1; who[$1] = 1 }
  END {
    for (w in who) for (r in runs) {
      print w, "parse_vs_md5", t[w, r, "BM_Md5Cache"] / t[w, r, "BM_ParseCache"]
      print w, "register_10000_vs_1000", \
        t[w, r, "BM_RegisterShuffled/10000"] / t[w, r, "BM_RegisterShuffled/1000"]
      print w, "parse_ms", t[w, r, "BM_ParseCache"]
      print w, "md5_ms", t[w, r, "BM_Md5Cache"]
      print w, "register_1000_ms", t[w, r, "BM_RegisterShuffled/1000"]
      print w, "register_10000_ms", t[w, r, "BM_RegisterShuffled/10000"]
      # The copy of the texts alone: its extra cost per template at 10,000 (µs) is paid by any
      # registration, so with a parse at the target throughput the registration ratio cannot
      # fall below 10 * (1 + extra / cost per template), own registration work included.
      c1 = t[w, r, "BM_TextCopyShuffled/1000"]; c10 = t[w, r, "BM_TextCopyShuffled/10000"]
      extra = (c10 - 10 * c1) / 10
      own = t[w, r, "BM_RegisterShuffled/1000"] - t[w, r, "BM_ParseCache"]
      if (own < 0) own = 0
      print w, "copy_10000_vs_1000", c10 / c1
      print w, "copy_extra_us", extra
      print w, "register_floor_at_target", 10 * (1 + extra / (t[w, r, "BM_Md5Cache"] / 0.75 + own))
    }
  }' "$work/times" | sort -k1,1 -k2,2 -k3,3g >"$work/figures"

echo "medians of $runs runs (targets: parse_vs_md5 >= 0.75, register_10000_vs_1000 <= 11)"
printf "%-24s %10s%s\n" figure this "${BASELINE:+   baseline}"
for figure in parse_vs_md5 register_10000_vs_1000 parse_ms md5_ms register_1000_ms \
  register_10000_ms copy_10000_vs_1000 copy_extra_us register_floor_at_target; do
  line=$(printf "%-24s" "$figure")
  for which in "${!programs[@]}"; do
    value=$(awk -v w="$which" -v f="$figure" '$1 == w && $2 == f {print $3}' "$work/figures" |
      awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')
    line+=$(printf " %10.3f" "$value")
  done
  echo "$line"
done
