#!/usr/bin/env bash
# The house style (README.md, "Style") holds for every source file: formatted as .clang-format says, and
# every source of src/ inside namespace klangor. Braces on every body are set by
# scripts/apply-house-style.sh (clang-tidy); clang-format 14 can neither add nor check them.
# Usage: scripts/check-style.sh
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'tools/*.cpp' 'tools/*.h')
status=0
if ! clang-format --dry-run --Werror "${files[@]}" 2>/tmp/klangor-style.$$; then
  echo "style: files differ from .clang-format (run clang-format -i on them):" >&2
  grep -oE '^[^:]+:[0-9]+' /tmp/klangor-style.$$ | cut -d: -f1 | sort -u | sed 's/^/  /' >&2
  status=1
fi
rm -f /tmp/klangor-style.$$
for file in $(git ls-files 'src/*.cpp' 'src/*.h'); do
  # A file that only includes (a header's compile check) or only holds main() declares nothing of ours.
  if ! grep -vqE '^(#|//|$)' "$file" || grep -q "^int main(" "$file"; then
    continue
  fi
  if ! grep -q "^namespace klangor {" "$file"; then
    echo "style: $file declares nothing in namespace klangor" >&2
    status=1
  fi
done
[[ $status == 0 ]] && echo "style: every file as .clang-format says, and in namespace klangor"
exit $status
