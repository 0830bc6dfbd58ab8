#!/usr/bin/env bash
# Runs the README's run command and checks that it shows what it promises and ends cleanly.
set -euo pipefail
out=$(mktemp)
trap 'rm -f "$out"' EXIT
before=$(pgrep -c -f 'standin/tidingsbell-' || true)
"$(dirname "$0")/../scripts/run" >"$out" 2>&1 || { cat "$out"; exit 1; }
for expected in 'badge enabled=true text="3"' 'badge enabled=true text="5"' \
  'Request failed with HTTP status 401' 'tab window=1' 'The extension received a message (hello)' \
  'Done: the session is over'; do
  grep -qF "$expected" "$out" || { echo "missing: $expected"; cat "$out"; exit 1; }
done
after=$(pgrep -c -f 'standin/tidingsbell-' || true)
[[ $after -le $before ]] || { echo "the run left programs running"; exit 1; }
echo "main job ended cleanly"
