#!/usr/bin/env bash
# A mutation run: measures how many planted faults the tests catch. Each
# fault is put, one at a time, into a scratch copy of the tree, which is
# rebuilt incrementally (ccache when installed); the whole test suite runs,
# and the file is put back. A fault no test notices survives.
#
# The faults come either from the hand-written list scripts/mutations.txt
# (prints every survivor with the list's reason, the faults whose text is
# no longer in the code (stale: fix the list), and the score), or, with
# --sample, from the code itself (scripts/mutants.py): flipped comparisons
# and boundaries, && and ||, constants off by one, dropped negations, calls,
# returns, swapped true and false, over every file of the program's
# folders (core/ to app/) that this build compiles or includes (the files
# only built on Windows are not among them). N of them are drawn with the
# seed S; the same tree and seed draw the same faults. Faults that do not
# compile are listed and not counted; survivors are listed as file:line
# with the line before and after. A survivor named in the reviewed list of
# equivalent faults (scripts/mutation-equivalents.txt) is not counted.
#
#   scripts/mutation-test.sh [--check] [--only REGEX] [--list FILE]
#                            [--source DIR] [--work DIR] [--timeout SECONDS]
#   scripts/mutation-test.sh --sample N [--seed S] [--only REGEX] [--equivalents FILE]
#                            [--source DIR] [--work DIR] [--timeout SECONDS]
#
#   --check        only check the list against the code: stale or ambiguous texts
#   --only REGEX   run only the faults whose list line matches REGEX (grep -E);
#                  with --sample, draw only from the files whose path it matches
#                  (Python's re), e.g. '^engine/Eeprom'
#   --list FILE    the faults (default scripts/mutations.txt)
#   --sample N     N faults generated from the code instead of the list
#   --seed S       the draw's seed (default: from the clock; printed, to repeat the draw)
#   --equivalents FILE  reviewed equivalent faults (default scripts/mutation-equivalents.txt)
#   --source DIR   the tree to copy (default this one, uncommitted changes included)
#   --work DIR     the scratch copy, its build and the logs (default /tmp/velkor-mutation)
#   --timeout S    time limit per test program (default 120 s); one that hangs catches the fault
#
# The first run builds the scratch copy from nothing; every fault after that
# recompiles the files that need it and relinks. The copy is kept for the
# next run; a planted fault is put back whenever the run ends, also on
# Ctrl-C, SIGTERM or SIGHUP, and the build or tests running then are ended.
# Not part of the normal test run.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
list=$root/scripts/mutations.txt
source=$root
work=/tmp/velkor-mutation
only=
timeout=120
check_only=false
sample=
seed=
equivalents=$root/scripts/mutation-equivalents.txt

while [[ $# -gt 0 ]]; do
  case $1 in
    --check) check_only=true; shift ;;
    --only) only=$2; shift 2 ;;
    --list) list=$(realpath "$2"); shift 2 ;;
    --source) source=$(realpath "$2"); shift 2 ;;
    --work) work=$2; shift 2 ;;
    --timeout) timeout=$2; shift 2 ;;
    --sample) sample=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --equivalents) equivalents=$(realpath "$2"); shift 2 ;;
    *) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
  esac
done

# The list, checked against the source tree, as NUL-separated records:
# number, state (ok, stale, ambiguous), counted (yes, or no for an
# equivalent fault), file, text, replacement, reason, the list line.
read_list() {
  python3 - "$list" "$source" <<'PY'
import re, sys
from pathlib import Path
list_file, source = Path(sys.argv[1]), Path(sys.argv[2])
# FILE: TEXT => REPLACEMENT  # REASON
line_form = re.compile(r'^(\S+): (.+?) =>(?: (.*?))?\s+# (.+)$')
number = 0
for line_number, line in enumerate(list_file.read_text().splitlines(), 1):
    if not line.strip() or line.lstrip().startswith('#'):
        continue
    match = line_form.match(line)
    if not match:
        sys.exit(f'{list_file}:{line_number}: not "FILE: TEXT => REPLACEMENT  # REASON": {line}')
    file, text, replacement, reason = match.group(1), match.group(2), match.group(3) or '', match.group(4)
    number += 1
    path = source / file
    found = path.read_text().count(text) if path.is_file() else 0
    state = 'ok' if found == 1 else 'stale' if found == 0 else 'ambiguous'
    counted = 'no' if reason.startswith('equivalent:') else 'yes'
    sys.stdout.write('\0'.join([str(number), state, counted, file, text, replacement, reason, line]) + '\0')
PY
}

# Replaces line NUMBER of a file, which must read BEFORE, with AFTER.
plant_line() {
  python3 - "$1" "$2" "$3" "$4" <<'PY'
import sys
from pathlib import Path
path, number, before, after = Path(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4]
lines = path.read_text().split('\n')
if lines[number - 1] != before:
    sys.exit(f'{path}:{number} does not read: {before}')
lines[number - 1] = after
path.write_text('\n'.join(lines))
PY
}

# Replaces the one occurrence of a text in a file.
plant() {
  python3 - "$1" "$2" "$3" <<'PY'
import sys
from pathlib import Path
path, text, replacement = Path(sys.argv[1]), sys.argv[2], sys.argv[3]
path.write_text(path.read_text().replace(text, replacement, 1))
PY
}

# Makes the scratch copy equal to the source tree (no .git, no build
# folders). Only files whose content differs are copied, and they get a new
# time stamp, so the build notices them whatever it built from before.
copy_tree() {
  python3 - "$1" "$2" <<'PY'
import filecmp, os, shutil, sys
from pathlib import Path
source, copy = Path(sys.argv[1]), Path(sys.argv[2])
def skipped(relative):
    top = relative.parts[0]
    return top == '.git' or top.startswith('build')
wanted = set()
for folder, folders, files in os.walk(source):
    relative_folder = Path(folder).relative_to(source)
    folders[:] = [f for f in folders if not skipped(relative_folder / f)]
    for name in files:
        relative = relative_folder / name
        wanted.add(relative)
        target = copy / relative
        if not target.is_file() or not filecmp.cmp(source / relative, target, shallow=False):
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(source / relative, target)
            shutil.copymode(source / relative, target)
for folder, folders, files in os.walk(copy):
    for name in files:
        relative = Path(folder, name).relative_to(copy)
        if relative not in wanted:
            (copy / relative).unlink()
PY
}

scratch=$work/src
build=$work/build
logs=$work/logs
listing=$(mktemp)
planted=
child=

# Runs a command in a process group of its own, so that an interrupted run
# can end it with everything it started (compilers, test programs).
in_own_group() {
  setsid --wait "$@" &
  child=$!
  local status=0
  wait "$child" || status=$?
  # What it left behind (a program a timed-out test had started) goes too.
  kill -KILL -- "-$child" 2>/dev/null || true
  child=
  return "$status"
}

# Whatever ends the run: end the running build or tests, put the planted
# file back, remove the temporary listing.
clean_up() {
  if [[ -n $child ]]; then
    kill -TERM -- "-$child" 2>/dev/null || true
    wait "$child" 2>/dev/null || true
  fi
  if [[ -n $planted ]]; then
    cp "$source/$planted" "$scratch/$planted"
  fi
  rm -f "$listing"
}
trap clean_up EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

run_tests() {
  in_own_group ctest --test-dir "$build" -j "$(nproc)" --timeout "$timeout" --stop-on-failure --output-on-failure >"$1" 2>&1
}

# Builds the scratch copy with the fault planted in FILE, runs the tests,
# and puts FILE back. Sets outcome (what to print) and result: unbuilt,
# survived or caught.
try_fault() {
  local file=$1 log=$2
  if ! in_own_group cmake --build "$build" >"$log" 2>&1; then
    outcome="does not build" result=unbuilt
  elif run_tests "$log.tests"; then
    outcome=SURVIVED result=survived
  else
    local first
    first=$(grep -m1 -oE '\[  FAILED  \] [^ ,]+|\*\*\*(Timeout|Exception).*' "$log.tests" || true)
    outcome="caught${first:+ by ${first#\[  FAILED  \] }}" result=caught
  fi
  # A plain copy: the file must look newer than the objects built from the fault.
  cp "$source/$file" "$scratch/$file"
  planted=
}

# A heading and the items under it, or nothing when there are none.
list_if_any() {
  local heading=$1
  shift
  if [[ $# -gt 0 ]]; then
    echo "$heading"
    printf '  %s\n' "$@"
  fi
}

# The survivors under one heading per file, with each file's count, so that
# a run tells where the tests are weakest: "file: change" lines in, grouped
# in the order their files first appear.
list_by_file() {
  local heading=$1
  shift
  [[ $# -gt 0 ]] || return 0
  echo "$heading"
  printf '%s\n' "$@" | awk '
    { file = $0; sub(/:.*/, "", file)
      if (!(file in count)) { order[++files] = file }
      lines[file] = lines[file] "    " $0 "\n"; count[file]++ }
    END { for (i = 1; i <= files; i++) { f = order[i]; printf "  %s (%d)\n%s", f, count[f], lines[f] } }'
}

print_score() {
  local caught=$1 survived=$2 what=$3
  local total=$((caught + survived))
  if [[ $total -gt 0 ]]; then
    echo "Score: $caught of $total $what caught ($(awk "BEGIN { printf \"%.1f\", 100 * $caught / $total }") %)"
  fi
}

records=()
stale=()
if [[ -z $sample ]]; then
  read_list >"$listing"
  while IFS= read -r -d '' field; do records+=("$field"); done <"$listing"
  [[ ${#records[@]} -gt 0 ]] || { echo "no faults in $list" >&2; exit 1; }

  ambiguous=()
  for ((i = 0; i < ${#records[@]}; i += 8)); do
    case ${records[i + 1]} in
      stale) stale+=("${records[i + 7]}") ;;
      ambiguous) ambiguous+=("${records[i + 7]}") ;;
    esac
  done
  if [[ ${#ambiguous[@]} -gt 0 ]]; then
    echo "These texts occur more than once in their file; make each one unique:" >&2
    printf '  %s\n' "${ambiguous[@]}" >&2
    exit 1
  fi
  if $check_only; then
    echo "$((${#records[@]} / 8)) faults, ${#stale[@]} stale"
    [[ ${#stale[@]} -eq 0 ]] || { printf '  stale: %s\n' "${stale[@]}"; exit 1; }
    exit 0
  fi
else
  [[ $sample =~ ^[1-9][0-9]*$ ]] || { echo "--sample needs a positive number" >&2; exit 2; }
  seed=${seed:-$(date +%N)}
fi

mkdir -p "$scratch" "$logs"
rm -f "$logs"/*
copy_tree "$source" "$scratch"

export CCACHE_BASEDIR=$work
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# -O1 without debug information: quick to compile and link, tests still quick.
cmake -S "$scratch" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O1 \
  -DVELKOR_BUILD_BENCH=OFF -DVELKOR_WHOLE_TEST_PROGRAMS=ON "${launcher[@]}" >"$logs/configure.log"

echo "Building the unchanged copy and running its tests..."
if ! in_own_group cmake --build "$build" >"$logs/build.log" 2>&1 || ! run_tests "$logs/unchanged.log"; then
  echo "The unchanged tree does not build or pass its tests: see $logs" >&2
  exit 1
fi

start=$SECONDS
caught=0 survived=0
survivors=() unbuildable=() equivalent_caught=() equivalent_survivors=()
if [[ -n $sample ]]; then
  # Records of six fields: number, file, line number, line before, line after, equivalence reason.
  python3 "$root/scripts/mutants.py" "$scratch" "$build" "$seed" "$sample" "$equivalents" "$only" >"$listing"
  while IFS= read -r -d '' field; do records+=("$field"); done <"$listing"
  for ((i = 0; i < ${#records[@]}; i += 6)); do
    number=${records[i]} file=${records[i + 1]} line_number=${records[i + 2]}
    before=${records[i + 3]} after=${records[i + 4]} reason=${records[i + 5]}
    change="$file:$line_number: $(sed 's/^ *//' <<<"$before") → $(sed 's/^ *//' <<<"${after:-(removed)}")"
    planted=$file
    plant_line "$scratch/$file" "$line_number" "$before" "$after"
    try_fault "$file" "$logs/$number.log"
    case $result in
      unbuilt) unbuildable+=("$change") ;;
      survived) if [[ -n $reason ]]; then equivalent_survivors+=("$change  # $reason"); else survived=$((survived + 1)) survivors+=("$change"); fi ;;
      caught) if [[ -n $reason ]]; then equivalent_caught+=("$change  # $reason"); else caught=$((caught + 1)); fi ;;
    esac
    printf '%4s %s:%s: %s\n' "$number" "$file" "$line_number" "$outcome"
  done
else
  for ((i = 0; i < ${#records[@]}; i += 8)); do
    number=${records[i]} state=${records[i + 1]} counted=${records[i + 2]} file=${records[i + 3]}
    text=${records[i + 4]} replacement=${records[i + 5]} line=${records[i + 7]}
    [[ $state == ok ]] || continue
    if [[ -n $only ]] && ! grep -Eq -- "$only" <<<"$line"; then
      continue
    fi
    planted=$file
    plant "$scratch/$file" "$text" "$replacement"
    try_fault "$file" "$logs/$number.log"
    case $result in
      unbuilt) unbuildable+=("$line") ;;
      survived) if [[ $counted == yes ]]; then survived=$((survived + 1)) survivors+=("$line"); fi ;;
      caught) if [[ $counted == yes ]]; then caught=$((caught + 1)); else equivalent_caught+=("$line"); fi ;;
    esac
    printf '%4s %-8s %s: %s\n' "$number" "$([[ $counted == yes ]] || echo '(equiv.)')" "$file" "$outcome"
  done
fi

echo
echo "Time: $(((SECONDS - start) / 60)) min $(((SECONDS - start) % 60)) s; logs in $logs"
list_if_any "Stale (text no longer in the code, not run):" "${stale[@]}"
list_if_any "Did not compile (not counted):" "${unbuildable[@]}"
list_if_any "Marked equivalent, yet caught (correct the list):" "${equivalent_caught[@]}"
list_if_any "Survivors known to be equivalent (not counted):" "${equivalent_survivors[@]}"
if [[ -n $sample ]]; then
  list_by_file "Survivors, by file:" "${survivors[@]}"
  echo "Sample: $((${#records[@]} / 6)) faults drawn with seed $seed (scripts/mutation-test.sh --sample $sample --seed $seed${only:+ --only '$only'})"
  print_score "$caught" "$survived" "behaviour-changing faults"
else
  list_if_any "Survivors:" "${survivors[@]}"
  print_score "$caught" "$survived" faults
fi
