#!/usr/bin/env bash
# Runs the fuzz targets with libFuzzer (clang build, preset "fuzz").
#
#   fuzz/run.sh [--seconds N] [--jobs J] [--check] [TARGET...]
#
# Builds the fuzzers into build/fuzz, then runs each TARGET (default: all)
# for N seconds (default 120), J at a time (default 2). Each keeps its
# growing corpus in build/fuzz/corpus/TARGET (started from fuzz/seeds/TARGET
# and fuzz/regressions/TARGET) and writes what it finds (crash-*, leak-*,
# timeout-*, oom-*) to build/fuzz/artifacts/TARGET/; its output goes to
# build/fuzz/logs/TARGET.log. Ends with status 1 when anything was found,
# 77 when clang cannot build a fuzzer here (--check: the test suite's run).
# A finding that is fixed is kept as fuzz/regressions/TARGET/NAME, which the
# host test suite replays.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
seconds=120
jobs=2
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --check) shift ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
[ ${#targets[@]} -eq 0 ] && targets=(xml_document setup_script decode_stream pe_reader pe_writer png_check utf8_text license_text command_line pack_payload journal_reader)

# clang with its libFuzzer runtime (Debian: clang, libclang-rt-14-dev).
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf '#include <cstdint>\n#include <cstddef>\nextern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }\n' \
  > "$probe/probe.cpp"
if ! command -v clang++ >/dev/null ||
   ! clang++ -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" 2>"$probe/err"; then
  echo "run.sh: clang++ cannot build a libFuzzer program here (install clang and libclang-rt-14-dev):" >&2
  cat "$probe/err" >&2
  exit 77
fi

build="$root/build/fuzz"
cd "$root"
cmake --preset fuzz >"$probe/configure.log" 2>&1 || { cat "$probe/configure.log" >&2; exit 2; }
programs=()
for t in "${targets[@]}"; do programs+=("fuzz_$t"); done
cmake --build --preset fuzz --target "${programs[@]}" >"$probe/build.log" 2>&1 ||
  { tail -40 "$probe/build.log" >&2; exit 2; }

mkdir -p "$build/logs"
run_one() {
  local t=$1 corpus="$build/corpus/$1" artifacts="$build/artifacts/$1/"
  mkdir -p "$corpus" "$artifacts" "$here/seeds/$t" "$here/regressions/$t"
  local dict=()
  [ -f "$here/dict/$t.dict" ] && dict=(-dict="$here/dict/$t.dict")
  # -timeout: one input taking 10 s is a hang; -rss_limit_mb/-malloc_limit_mb:
  # one input needing more than 2 GB in all or 1 GB at once is excessive.
  "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
    -print_final_stats=1 -artifact_prefix="$artifacts" "${dict[@]}" \
    "$corpus" "$here/seeds/$t" "$here/regressions/$t" >"$build/logs/$t.log" 2>&1
}

# Findings of this run only: artifacts newer than this mark.
mark="$probe/start"
touch "$mark"
running=0
for t in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then wait -n; running=$((running - 1)); fi
  echo "run.sh: $t for ${seconds}s"
  run_one "$t" &
  running=$((running + 1))
done
wait

status=0
for t in "${targets[@]}"; do
  runs=$(grep -ao 'stat::number_of_executed_units: *[0-9]*' "$build/logs/$t.log" | grep -o '[0-9]*$')
  found=$(find "$build/artifacts/$t" -type f -newer "$mark" 2>/dev/null | sort)
  if [ -n "$found" ] || grep -aq 'ERROR: libFuzzer\|ERROR: AddressSanitizer\|runtime error:' "$build/logs/$t.log"; then
    echo "run.sh: $t: FOUND (${runs:-?} runs), see $build/logs/$t.log"
    [ -n "$found" ] && echo "$found" | sed 's/^/  /'
    status=1
  else
    echo "run.sh: $t: nothing found in ${runs:-?} runs"
  fi
done
exit $status
