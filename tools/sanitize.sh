#!/usr/bin/env bash
# Memory checks of the extension.
#
#   tools/sanitize.sh [pytest args]   AddressSanitizer + UndefinedBehaviorSanitizer build in
#                                     build-sanitize/, the whole test suite run against it with
#                                     LeakSanitizer on; fails on any sanitizer error and on any
#                                     leak whose allocation passes through our code
#   tools/sanitize.sh valgrind [N]    plain debug-info build in build-valgrind/, N rounds (default
#                                     1000) of the mixed-call workload (tests/support/workload.py)
#                                     under valgrind memcheck
#   tools/sanitize.sh debug [N]       build in build-debug/ for a debug interpreter (DEBUG_PYTHON,
#                                     default python3.11-dbg), N rounds (default 300) of the
#                                     workload; fails when the interpreter's total reference count
#                                     grows with the rounds
#
# The interpreter is not instrumented, so the ASan runtime is preloaded, together with
# libstdc++ (ASan must find the C++ runtime at start-up to intercept exceptions thrown by the
# rules). PYTHONMALLOC=malloc sends every object allocation through malloc, where ASan and
# valgrind see it. A leak counts when a frame of its allocation stack lies in our sources; the
# interpreter may keep blocks of its own at exit, which are listed but do not fail the run.
set -euo pipefail
cd "$(dirname "$0")/.."

# The interpreter itself, not a version-manager shim: the preloaded runtime must not reach a
# shell in between.
PYTHON=$("${PYTHON:-python3}" -c 'import sys; print(sys.executable)')
CXX=${CXX:-g++}
JOBS=${JOBS:-2}

build() {  # build dir, extra cmake arguments...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DPython_EXECUTABLE="$PYTHON" "$@" >/dev/null
    cmake --build "$dir" -j "$JOBS"
}

# Prints the reports of the given logs that count, then a count line; exits non-zero when any
# does. With "asan", every error report counts (these tools have no false positives) and a leak
# counts when its allocation stack passes through our sources. With "valgrind", a report counts
# when any of its frames lies in our sources: the uninstrumented interpreter has known false
# positives of its own there.
ours() {
    "$PYTHON" - "$@" <<'PY'
import re, sys
mode, paths = sys.argv[1], sys.argv[2:]
counted = other = 0
for path in paths:
    text = open(path, errors="replace").read()
    # Reports are separated by blank lines (ASan) or by bare "==pid== " lines (valgrind).
    for report in re.split(r"\n(?:==\d+== )?\n", text):
        if not re.search(r"leak of|are (definitely|indirectly) lost|runtime error|ERROR: AddressSanitizer|"
                         r"Invalid (read|write|free)|uninitialised|Mismatched|overlap", report):
            continue
        in_our_code = re.search(r"src/python/|src/velkorant/|velkorant::|velkorant\.cpython", report)
        if in_our_code or (mode == "asan" and "leak of" not in report):
            counted += 1
            print(report, "\n")
        else:
            other += 1
print(f"reports that count: {counted}; reports of the interpreter alone: {other}")
sys.exit(1 if counted else 0)
PY
}

if [[ ${1:-} == debug ]]; then
    rounds=${2:-300}
    PYTHON=$(command -v "${DEBUG_PYTHON:-python3.11-dbg}")
    build build-debug
    PYTHONPATH=$PWD/build-debug "$PYTHON" -c "
import gc, sys
sys.path.insert(0, 'tests')
import velkorant
from support.workload import mixed_calls
assert velkorant.__file__.startswith('$PWD/build-debug/'), velkorant.__file__
mixed_calls(20)  # caches and free lists fill up first
def total():
    gc.collect()
    return sys.gettotalrefcount()
before = total()
mixed_calls($rounds)
grown = total() - before
print(f'total reference count after $rounds more rounds: {grown:+d}')
sys.exit(1 if grown > 100 else 0)
"
    exit
fi

if [[ ${1:-} == valgrind ]]; then
    rounds=${2:-1000}
    build build-valgrind
    log=$(mktemp --suffix=.valgrind)
    PYTHONPATH=$PWD/build-valgrind PYTHONMALLOC=malloc valgrind --tool=memcheck --leak-check=full \
        --show-leak-kinds=definite,indirect --num-callers=40 --log-file="$log" "$PYTHON" -c "
import gc, sys
sys.path.insert(0, 'tests')
import velkorant
from support.workload import mixed_calls
assert velkorant.__file__.startswith('$PWD/build-valgrind/'), velkorant.__file__
mixed_calls($rounds)
gc.collect()
"
    grep -E 'ERROR SUMMARY|definitely lost:|indirectly lost:' "$log" || true
    echo "valgrind log: $log"
    ours valgrind "$log"
    exit
fi

build build-sanitize -DVELKORANT_SANITIZE=ON
logs=$(mktemp -d)
export LD_PRELOAD="$("$CXX" -print-file-name=libasan.so) $(readlink -f "$("$CXX" -print-file-name=libstdc++.so)")"
export PYTHONPATH=$PWD/build-sanitize
export PYTHONMALLOC=malloc
# exitcode=0: a process with leaks must not fail for that alone (tools the tests start, such as
# type checkers, keep memory of their own at exit); every report is judged from the logs below.
export ASAN_OPTIONS=detect_leaks=1:exitcode=0:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_string_checks=1:log_path=$logs/asan
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:log_path=$logs/ubsan
"$PYTHON" -c 'import velkorant, sys; sys.exit(0 if "/build-sanitize/" in velkorant.__file__ else "not the sanitized build: " + velkorant.__file__)'
status=0
"$PYTHON" -m pytest -q -p no:cacheprovider "$@" || status=$?
unset LD_PRELOAD
shopt -s nullglob
reports=("$logs"/*)
echo "sanitizer logs: $logs (${#reports[@]} files)"
if ((${#reports[@]})); then ours asan "${reports[@]}" || status=1; fi
exit $status
