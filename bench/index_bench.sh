#!/usr/bin/env bash
# Desktop search beside Recoll, in one run on one corpus:
#   bench/index_bench.sh [--quick] [--runs N]
# Makes the corpus (make_index_corpus: text, HTML, mail, XML, MP3, Ogg and ZIP
# files), indexes it with `zytfilt index --jobs 1`, with `--jobs $(nproc)` and
# with `recollindex` under a private RECOLL_CONFDIR (spelling off), and prints
# files/s and MB/s side by side with the ratios to Recoll; then the latency of
# ten queries end to end (`zytfilt search` and `recollq -A`, both asked for 10
# hits with their snippets or abstracts: the median wall time of N runs and,
# with perf, the mean CPU time, task-clock) and inside the process
# (Store::Search, wall and CPU time). On a machine that other work shares the
# wall times are mostly waiting for a processor; the CPU times compare. Everything lives in a private
# folder under /tmp, removed however the run ends. Needs a release build
# (build/bin) and recollcmd (with python3-mutagen for the audio tags);
# scripts/bench installs them. --quick: a tenth of the corpus, one run.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
bin="$top/build/bin"
scale=1 runs=5
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) scale=0.1 runs=1 ;;
    --runs) runs=${2:?--runs needs a number}; shift ;;
    *) echo "usage: bench/index_bench.sh [--quick] [--runs N]" >&2; exit 2 ;;
  esac
  shift
done
for tool in "$bin/zytfilt" "$bin/make_index_corpus" "$bin/index_query_bench"; do
  [ -x "$tool" ] || { echo "index_bench: $tool is missing (scripts/build release)" >&2; exit 1; }
done
for tool in recollindex recollq; do
  command -v $tool >/dev/null || { echo "index_bench: $tool is missing (apt-get install recollcmd)" >&2; exit 1; }
done

# Recoll's filters run the system's python3 (with mutagen for the audio tags).
export PATH="/usr/bin:/bin:$PATH"
dir="$(mktemp -d /tmp/zytindexbench.XXXXXX)"
chmod 700 "$dir"
trap 'rm -rf "$dir"' EXIT
export HOME="$dir/home" ZYT_REGISTRY="$dir/registry.db" ZYT_SETTINGS="$dir/settings.xml" \
  ZYT_THUMBNAILS="$dir/thumbnails.db" XDG_DATA_HOME="$dir/home/.local/share" RECOLL_CONFDIR="$dir/recoll"
mkdir -m 700 "$HOME" "$RECOLL_CONFDIR"
corpus="$dir/corpus"
line=$("$bin/make_index_corpus" "$corpus" "$scale")
files=$(sed -E 's/^corpus: ([0-9]+) files.*/\1/' <<<"$line")
bytes=$(sed -E 's/^corpus: [0-9]+ files, ([0-9]+) bytes.*/\1/' <<<"$line")
mb=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1e6 }')
kinds=$(sed -E 's/.*\((.*)\)$/\1/' <<<"$line")
# Every indexer meets the corpus in the page cache.
find "$corpus" -type f -exec cat {} + >/dev/null

"$bin/zytfilt" setup >/dev/null
jobs=$(nproc)
"$bin/zytfilt" catalog add One "$dir/index-1" "$corpus"
"$bin/zytfilt" catalog add Many "$dir/index-n" "$corpus"
cat >"$RECOLL_CONFDIR/recoll.conf" <<EOF
topdirs = $corpus
noaspell = 1
loglevel = 1
logfilename = $RECOLL_CONFDIR/log.txt
EOF

# seconds COMMAND...: "WALL CPU" seconds of a command (CPU: user and system
# time of it and of every process it waited for, its workers too); its output
# in $dir/out.
seconds() {
  local TIMEFORMAT='%R %U %S'
  { time "$@" >"$dir/out" 2>"$dir/err"; } 2>&1 | awk '{ printf "%s %.2f", $1, $2 + $3 }'
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "index_bench: $* failed: $(tail -n 3 "$dir/err")" >&2; return 1; }
}
TIMEFORMAT=%R
t_one=$(seconds "$bin/zytfilt" index --catalog One --jobs 1 --json)
one_json=$(cat "$dir/out")
t_many=$(seconds "$bin/zytfilt" index --catalog Many --jobs "$jobs" --json)
many_json=$(cat "$dir/out")
t_recoll=$(seconds recollindex -c "$RECOLL_CONFDIR")
field() { sed -nE "s/.*\"$2\":([0-9]+).*/\1/p" <<<"$1"; }
recoll_status() { sed -nE "s/^$1 = ([0-9]+)/\1/p" "$RECOLL_CONFDIR/idxstatus.txt"; }

rate() { awk -v n="$1" -v t="$2" 'BEGIN { printf "%.1f", (t > 0) ? n / t : 0 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.1fx", a / b; else printf "?" }'; }
fps_recoll=$(rate "$files" "${t_recoll% *}") cps_recoll=$(rate "$files" "${t_recoll#* }")
echo "$line"
printf '%-26s %8s %9s %7s %10s   %8s %12s %10s %8s %7s\n' indexer seconds files/s MB/s "vs Recoll" "CPU s" "files/CPU s" "vs Recoll" \
  indexed failed
row() {
  local wall=${2% *} cpu=${2#* } fps cps
  fps=$(rate "$files" "$wall") cps=$(rate "$files" "$cpu")
  printf '%-26s %8.2f %9s %7s %10s   %8.2f %12s %10s %8s %7s\n' "$1" "$wall" "$fps" "$(rate "$mb" "$wall")" \
    "$(ratio "$fps" "$fps_recoll")" "$cpu" "$cps" "$(ratio "$cps" "$cps_recoll")" "$3" "$4"
}
row "zytfilt index --jobs 1" "$t_one" "$(field "$one_json" indexed)" "$(field "$one_json" failed)"
row "zytfilt index --jobs $jobs" "$t_many" "$(field "$many_json" indexed)" "$(field "$many_json" failed)"
row "recollindex" "$t_recoll" "$(recoll_status filesdone)" "$(recoll_status fileerrors)"
printf 'index size: zytfilt %s MB, Recoll %s MB\n' \
  "$(du -sm "$dir/index-n" | cut -f1)" "$(du -sm "$RECOLL_CONFDIR/xapiandb" | cut -f1)"

# Ten queries, each as zytfilt search and as recollq reads it.
queries=(
  "river|river"
  "zephyr|zephyr"
  "river garden|river garden"
  "\"river quitintho\"|\"river quitintho\""
  "riv*|riv*"
  "lantern OR zephyr|lantern OR zephyr"
  "lantern NOT zephyr|lantern -zephyr"
  "title:moon|title:moon"
  "from:sundorve|author:sundorve"
  "budget meeting harbour|budget meeting harbour"
)
median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.1f", NR ? v[int((NR + 1) / 2)] * 1000 : 0 }'; }
# latency COMMAND...: the median wall time in ms of runs runs.
latency() {
  local i
  for ((i = 0; i < runs; i++)); do { time "$@" >/dev/null 2>&1 || true; } 2>&1; done | median
}
# cpu COMMAND...: the mean CPU time in ms (task-clock) of runs runs, "?" without perf.
have_perf=0
perf stat -x, -e task-clock true >/dev/null 2>&1 && have_perf=1
cpu() {
  if [ $have_perf -eq 1 ]; then
    perf stat -x, -e task-clock -r "$runs" "$@" 2>&1 >/dev/null | awk -F, '$3 == "task-clock" { printf "%.1f", $1 }'
  else
    echo "?"
  fi
}
ours=()
for q in "${queries[@]}"; do ours+=("${q%%|*}"); done
"$bin/index_query_bench" "$dir/index-n/zytindex.db" $((runs * 4)) "${ours[@]}" >"$dir/inproc"
printf '\n%-26s %-15s %-25s %-15s %s\n' "query, ms ($runs runs)" "zytfilt search" "recollq -A" "Store::Search" "hits (of 10)"
printf '%-26s %6s %6s   %6s %6s %9s   %6s %6s   %s\n' "" wall CPU wall CPU "CPU ratio" wall CPU "ours/Recoll"
slower=0 worst_cpu=0
i=0
for q in "${queries[@]}"; do
  z="${q%%|*}" r="${q#*|}"
  ms_z=$(latency "$bin/zytfilt" search --catalog Many --limit 10 "$z")
  cpu_z=$(cpu "$bin/zytfilt" search --catalog Many --limit 10 "$z")
  ms_r=$(latency recollq -c "$RECOLL_CONFDIR" -A -n 10 "$r")
  cpu_r=$(cpu recollq -c "$RECOLL_CONFDIR" -A -n 10 "$r")
  IFS=$'\t' read -r _ wall cpu hits < <(sed -n "$((i + 1))p" "$dir/inproc")
  hits_r=$(recollq -c "$RECOLL_CONFDIR" -n 10 "$r" 2>&1 | sed -nE 's/^([0-9]+) results.*/\1/p')
  [ "${hits_r:-0}" -gt 10 ] && hits_r=10
  printf '%-26s %6s %6s   %6s %6s %9s   %6.1f %6.1f   %s/%s\n' "$z" "$ms_z" "$cpu_z" "$ms_r" "$cpu_r" \
    "$(ratio "$cpu_z" "$cpu_r")" "$wall" "$cpu" "$hits" "${hits_r:-?}"
  # CPU time where perf measures it, else the wall time.
  if [ $have_perf -eq 1 ]; then a=$cpu_z b=$cpu_r; else a=$ms_z b=$ms_r; fi
  awk -v a="$a" -v b="$b" 'BEGIN { exit !(a > b) }' && slower=$((slower + 1))
  worst_cpu=$(awk -v a="$cpu" -v b="$worst_cpu" 'BEGIN { print (a > b) ? a : b }')
  i=$((i + 1))
done
fps_many=$(rate "$files" "${t_many% *}")
echo
printf 'goal: files/s at least 5x Recoll: %s (%s with %d workers)\n' \
  "$(awk -v a="$fps_many" -v b="$fps_recoll" 'BEGIN { print (b > 0 && a >= 5 * b) ? "met" : "not met" }')" \
  "$(ratio "$fps_many" "$fps_recoll")" "$jobs"
printf 'goal: a query under 20 ms inside the process: %s (slowest %s ms CPU)\n' \
  "$(awk -v a="$worst_cpu" 'BEGIN { print (a < 20) ? "met" : "not met" }')" "$worst_cpu"
printf 'goal: zytfilt search end to end no slower than recollq: %s (%d of %d queries slower, by %s time)\n' \
  "$([ $slower -eq 0 ] && echo met || echo "not met")" "$slower" "${#queries[@]}" "$([ $have_perf -eq 1 ] && echo CPU || echo wall)"
echo "corpus kinds: $kinds"
