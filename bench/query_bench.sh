#!/usr/bin/env bash
# Times zdtool's job query (-q j -usecache) against zdsim with generated farms of 100,000 and
# 1,000,000 jobs, streamed and in lockstep: the tool's CPU time per job record, its wall time and
# peak memory, beside the floor of bench_pingpong making the same exchanges with no work.
# Usage: bench/query_bench.sh [build dir, default build/release]
#   (configured with -DZD_BENCH=ON for bench_pingpong). Environment: SIZES (default
#   "100000 1000000"), MODES (default "pipelined lockstep"), CHUNKS per job (default 1), RUNS
#   of each measurement (default 3): CPU time and memory are their medians, wall times the least.
#   BASELINE: another zdtool (an earlier build) timed in the same runs, alternating with this one,
#   so that the two are compared under the same load.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"
sizes="${SIZES:-100000 1000000}"
modes="${MODES:-pipelined lockstep}"
chunks="${CHUNKS:-1}"
runs="${RUNS:-3}"
baseline="${BASELINE:-}"
zdtool="$build/tool/zdtool"
zdsim="$build/sim/zdsim"
pingpong="$build/bench/bench_pingpong"
for program in "$zdtool" "$zdsim" "$pingpong" ${baseline:+"$baseline"}; do
  if [ ! -x "$program" ]; then
    echo "query_bench: $program is missing; build it with" >&2
    echo "  cmake -S . -B $build -G Ninja -DCMAKE_BUILD_TYPE=Release -DZD_BENCH=ON" >&2
    echo "  cmake --build $build --target zdtool zdsim bench_pingpong" >&2
    exit 1
  fi
done

work=$(mktemp -d)
sim_pid=
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=
  fi
}
trap 'stop_sim; rm -rf "$work"' EXIT
# zdtool keeps its template cache under the home folder.
export HOME="$work/home"
mkdir -p "$HOME"

# Starts zdsim with the given options; sets sim_pid and port.
start_sim() {
  rm -f "$work/port"
  "$zdsim" --port 0 --port-file "$work/port" --templates examples/templates \
    --log "$work/zdsim.log" --log-level 2 "$@" > /dev/null 2> "$work/zdsim.err" &
  sim_pid=$!
  # Generating a million jobs takes a few seconds.
  for _ in $(seq 1200); do
    [ -s "$work/port" ] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ ! -s "$work/port" ]; then
    echo "query_bench: zdsim did not start:" >&2
    cat "$work/zdsim.err" >&2
    exit 1
  fi
  port=$(cat "$work/port")
}


# Reads "key=value" words of a report line.
field() { tr ' ' '\n' <<< "$1" | sed -n "s/^$2=//p"; }
median() { sort -g | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
least() { sort -g | head -1; }

# Does this zdtool print the job table yet? Asked of the sample farm, where it is small: the
# table shows the sample's job names.
start_sim --farm examples/farm.json
sample=(-s 127.0.0.1 -port "$port" -u admin -p farmadmin)
"$zdtool" "${sample[@]}" > /dev/null 2>&1 || true  # fills the template cache
listing_text=$("$zdtool" "${sample[@]}" -q j -usecache 2>&1 || true)
stop_sim
if grep -q "sq010_sh020_beauty" <<< "$listing_text"; then
  listing="yes"
else
  listing="no (zdtool -q j printed no job table; the runs below time login and status only)"
fi

echo "zdtool job listing present: $listing"
echo "build: $build; generated farms: 100 nodes, $chunks chunk(s) per multiframe job"
echo
printf "%-9s %-10s %-8s %7s %9s %9s %9s %11s %9s %9s %9s %s\n" jobs mode tool status tool_cpu \
  us/record tool_wall maxrss_MB floor_wall zdsim_MB gen_s "acknowledged (zdsim's count)"
for jobs in $sizes; do
  for mode in $modes; do
    extra=()
    [ "$mode" = lockstep ] && extra=(--lockstep)
    : > "$work/zdsim.log"
    began=$(date +%s.%N)
    start_sim --generate-jobs "$jobs" --generate-nodes 100 --generate-chunks "$chunks" "${extra[@]}"
    generated=$(awk -v a="$began" -v b="$(date +%s.%N)" 'BEGIN {printf "%.1f", b - a}')
    # fills the template cache
    "$zdtool" -s 127.0.0.1 -port "$port" -u admin -p admin > /dev/null 2>&1 || true
    # A first listing renders zdsim's record cache, so that the timed runs compare the clients.
    "$pingpong" listing "$port" jobs > /dev/null

    # Tool and floor alternate, so that a busy spell of the machine falls on both.
    : > "$work/runs.this"
    : > "$work/runs.baseline"
    for ((run = 0; run < runs; run++)); do
      for which in this ${baseline:+baseline}; do
        program="$zdtool"
        [ "$which" = baseline ] && program="$baseline"
        set +e
        "$pingpong" measure "$work/report" "$program" -s 127.0.0.1 -port "$port" -u admin \
          -p admin -q j -usecache > /dev/null 2> "$work/tool.err"
        set -e
        floor=$("$pingpong" listing "$port" jobs | sed 's/wall=/floor=/' || true)
        echo "$(cat "$work/report") $floor" >> "$work/runs.$which"
      done
    done
    zdsim_kb=$(awk '/VmHWM/ {print $2}' "/proc/$sim_pid/status")
    stop_sim

    for which in this ${baseline:+baseline}; do
    cp "$work/runs.$which" "$work/runs"
    status=$(field "$(head -1 "$work/runs")" status)
    cpu=$(while read -r line; do
      awk -v u="$(field "$line" user)" -v s="$(field "$line" system)" 'BEGIN {print u + s}'
    done < "$work/runs" | median)
    # Wall times are the least of the runs: on a shared machine the others measure its load.
    wall=$(while read -r line; do field "$line" wall; done < "$work/runs" | least)
    rss=$(while read -r line; do field "$line" maxrss_kb; done < "$work/runs" | median)
    floor_wall=$(while read -r line; do field "$line" floor; done < "$work/runs" | least)
    # zdsim logs each listing with the acknowledgements it got; client 3 is the first timed
    # zdtool (after the cache-filling run and the first listing).
    acks=$(sed -n 's/.*Client 3: jobs listing.*records, \([0-9]* of [0-9]*\).*/\1/p' "$work/zdsim.log")
    [ "$which" = baseline ] && acks="-"
    printf "%-9s %-10s %-8s %7s %9.2f %9.2f %9.2f %11.1f %9.2f %9.1f %9s %s\n" "$jobs" "$mode" \
      "$which" "$status" "$cpu" "$(awk -v c="$cpu" -v n="$jobs" 'BEGIN {print c * 1e6 / n}')" \
      "$wall" "$(awk -v k="$rss" 'BEGIN {print k / 1024}')" "$floor_wall" \
      "$(awk -v k="$zdsim_kb" 'BEGIN {print k / 1024}')" "$generated" "${acks:-none}"
    if [ "$status" != 0 ]; then
      echo "  zdtool exited with $status: $(head -c 300 "$work/tool.err" | tr '\n' ' ')"
    fi
    done
  done
done
echo
echo "$runs runs each. tool_cpu: user + system seconds of zdtool's whole run (median);"
echo "us/record: that per job record; tool_wall: zdtool's wall time (least); maxrss_MB: its peak"
echo "memory (median); floor_wall: bench_pingpong running the same listing with no work per"
echo "record (least); zdsim_MB: zdsim's peak memory; gen_s: zdsim's start-up with the farm."
