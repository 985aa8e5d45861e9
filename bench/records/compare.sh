#!/usr/bin/env bash
# The claim tables as they grow: each goal at two sizes, beside SQLite alone
# doing the same work on the same rows in the same run (the floor).
#   export   the Transfer's export of every unsent row of Tevrak and Expense
#            (sizes 1,000 and 10,000 rows in each table; goal: 10,000 in 1 s,
#            at most 12 x the time of 1,000). Floor: SQLite copying the same
#            rows into fresh files with synchronous=FULL.
#   save     Save on tab 3 and tab 4, click to "Save Complete" (sizes 0 and
#            100,000; goal: 30 ms and 2 x the empty table). Floor: one INSERT
#            into the same file with synchronous=FULL.
#   search   tab 3's three searches and the enquiry's, click to the grid
#            painted with its first rows; the jump to the grid's end (sizes
#            10,000 and 100,000; goal: 150 ms). Floor: SQLite running the
#            same text to its first 50 rows.
#   folders  tab 2 with 1,000 and 10,000 claim folders in c:\picture: the folder
#            list shown (goal: 200 ms at 10,000) and the eighth character of a
#            claim number typed until its folder is open (goal: 10 ms). Floor:
#            readdir of c:\picture and sorting the names.
#   startup  the main window created and shown (sizes 0 and 100,000; goal:
#            at most 100 ms more than empty tables). Floor: SQLite opening
#            the six files and reading their first rows.
# Medians of ROUNDS rounds for save and search. The machine is shared: note
# `uptime` beside the figures; fsync dominates the save and export floors.
#
#   TEVRAK_BUILD_DIR   build folder holding bench/records/tevrak_records_bench (default: ../../build)
#   TEVRAK_BENCH_DATA  scratch folder (default: $TMPDIR/tevrak-records-bench; removed)
#   ROUNDS             rounds for save and search (default 7)
#   TEVRAK_BENCH_SHUFFLED=1  claim numbers in no order at all (default: as they come, roughly rising)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${TEVRAK_BUILD_DIR:-$here/../../build}
bench=$build/bench/records/tevrak_records_bench
data=${TEVRAK_BENCH_DATA:-${TMPDIR:-/tmp}/tevrak-records-bench}
rounds=${ROUNDS:-7}
[[ -x $bench ]] || { echo "build the target tevrak_records_bench first ($bench)" >&2; exit 1; }
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export XDG_CONFIG_HOME=$data/config XDG_RUNTIME_DIR=$data/runtime
trap 'rm -rf "$data"' EXIT
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# Runs one mode of the benchmark on tables of N rows; prints its lines.
measure() {
  local rows=$1 mode=$2
  export TEVRAK_ROOT=$data/root-$rows
  if [[ ! -d $TEVRAK_ROOT ]]; then
    mkdir -p "$TEVRAK_ROOT"
    "$bench" make "$rows" >/dev/null 2>&1
  fi
  "$bench" "$mode" "$rounds" 2>/dev/null
}

echo "load while measuring: $(uptime)"
show() {
  # name small-size large-size lines-of-small lines-of-large
  local small=$1 large=$2 a=$3 b=$4
  while read -r name ours floor; do
    read -r _ ours2 floor2 < <(grep "^$name " <<<"$b")
    printf '%-16s %9s %12s %12s %9s %12s %12s\n' "$name" "$small" "$ours" "$floor" "$large" "$ours2" "$floor2"
  done <<<"$a"
}
printf '%-16s %9s %12s %12s %9s %12s %12s\n' "" "rows" "ours" "floor" "rows" "ours" "floor"
show 1000 10000 "$(measure 1000 export)" "$(measure 10000 export)"
show 0 100000 "$(measure 0 save)" "$(measure 100000 save)"
show 10000 100000 "$(measure 10000 search)" "$(measure 100000 search)"
show 0 100000 "$(measure 0 startup)" "$(measure 100000 startup)"
folders() { TEVRAK_ROOT=$data/folders-$1 "$bench" folders "$1" "$rounds" 2>/dev/null; }
show 1000 10000 "$(folders 1000)" "$(folders 10000)"
echo "load after: $(uptime)"
echo "goals: export of 10,000 <= 1000 ms and <= 12 x that of 1,000; save <= 30 ms and <= 2 x at 0 rows;"
echo "       searches' first rows <= 150 ms at 100,000; startup at 100,000 <= startup at 0 + 100 ms;"
echo "       folder list <= 200 ms and 8th character <= 10 ms at 10,000 folders"
