#!/usr/bin/env bash
# Runs the README's run command and checks that each step shows what it promises (the throttled
# check shows nothing) and that the run ends cleanly.
set -euo pipefail
out=$(mktemp)
trap 'rm -f "$out"' EXIT
top=$(cd "$(dirname "$0")/.." && pwd)
programs="$top/build/default/standin/tidingsbell-"  # this checkout's, not another's
before=$(pgrep -c -f "$programs" || true)
"$top/scripts/run" >"$out" 2>&1 || { cat "$out"; exit 1; }
shown=$(sed -n -E 's/^([0-9]+)\. .*/\1./p; s/^    (toolbar|safari): +/\1 /p' "$out")
expected='1.
2.
toolbar badge enabled=true text="3"
3.
4.
toolbar badge enabled=true text="5"
5.
safari tab window=1 url="https://github.com/notifications" active=true
6.
toolbar badge enabled=true text=""
safari Request failed with HTTP status 401
7.
toolbar badge enabled=true text=""
8.'
diff <(echo "$expected") <(echo "$shown") || { cat "$out"; exit 1; }
for expected in '] The extension received a message (hello) from a script injected into' \
  'Done: the session is over'; do
  grep -qF "$expected" "$out" || { echo "missing: $expected"; cat "$out"; exit 1; }
done
[[ $(pgrep -c -f "$programs" || true) -le $before ]] || { echo "the run left programs running"; exit 1; }
echo "main job ended cleanly"
