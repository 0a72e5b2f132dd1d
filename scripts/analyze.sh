#!/usr/bin/env bash
# Static analysis of the agent's sources: cppcheck and clang-tidy (bug-prone,
# CERT and concurrency checks, see .clang-tidy) against the MinGW target's
# headers. Exits non-zero on any finding.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

sources=(agent/*.cpp job/*.cpp)
defines=(-DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601)

cppcheck --std=c++17 --language=c++ --enable=warning,performance,portability --inline-suppr \
  --error-exitcode=1 --quiet -D_WIN32 "${defines[@]}" -I . -I include "${sources[@]}"
echo "cppcheck: no findings"

gcc_version=$(x86_64-w64-mingw32-g++-posix -dumpversion)
gcc_include=/usr/lib/gcc/x86_64-w64-mingw32/$gcc_version
[[ -d $gcc_include ]] || gcc_include=/usr/lib/gcc/x86_64-w64-mingw32/${gcc_version%%-*}-posix
flags=(--target=x86_64-w64-mingw32 -std=c++17 "${defines[@]}" -I. -Iinclude
       -isystem /usr/x86_64-w64-mingw32/include
       -isystem "$gcc_include/include/c++" -isystem "$gcc_include/include/c++/x86_64-w64-mingw32")
report=$(mktemp)
trap 'rm -f "$report"' EXIT
# clang-tidy's own exit code counts findings as errors; the report decides.
printf '%s\n' "${sources[@]}" |
  xargs -P 2 -I{} clang-tidy --quiet {} -- "${flags[@]}" >"$report" 2>/dev/null || true
if grep -q 'warning:\|error:' "$report"; then
  cat "$report"
  echo "clang-tidy: findings above"
  exit 1
fi
echo "clang-tidy: no findings"
