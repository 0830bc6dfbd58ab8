#!/usr/bin/env bash
# The stand-in programs on a real Secret Service, inside scripts/with-keyring (a throwaway
# keyring on a private session bus), as secret-tool, an independent client, sees it.
#   tests/secret_service_test.sh BUILD_DIR
set -euo pipefail
[[ -n ${TIDINGSBELL_TEST_KEYRING:-} ]] || { echo "run me through scripts/with-keyring" >&2; exit 2; }
bin=$1/standin
keyring=$(cd "$(dirname "$0")/.." && pwd)/scripts/with-keyring
service=com.marblequail.Tidingsbell
token=ghp_inTheKeyring0123
unset TIDINGSBELL_STANDIN_KEYCHAIN
work=$(mktemp -d)
failures=0
github_pid="" safari_pid=""
cleanup() {
  exec 3>&- 4>&- 5<&- 6<&- 2>/dev/null || true
  for pid in $safari_pid $github_pid ${window_pid:-}; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

check() {  # check WHAT COMMAND...: runs the command as a test
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
lookup() { secret-tool lookup service "$service" account "$1"; }
no_file_holds_a_keychain() {
  [[ ! -e $XDG_DATA_HOME/tidingsbell/keychain.json ]] &&
    ! grep -rqa -e "$token" -e ghp_refused "$XDG_DATA_HOME/tidingsbell" 2>/dev/null
}
tool() { "$bin/tidingsbell-keychain" "$1" -s "$service" -a personal_access_token "${@:2}"; }
file_tool() { TIDINGSBELL_STANDIN_KEYCHAIN=file tool "$@"; }
data_folder_private() {
  [[ ! -e $XDG_DATA_HOME/tidingsbell || $(stat -c %a "$XDG_DATA_HOME/tidingsbell") == 700 ]]
}
# The keychain status the tool reports for a find, else its exit status (0 found, 44 none).
find_status() {
  local err status=0
  err=$(TIDINGSBELL_STANDIN_KEYCHAIN=${1:-} tool find 2>&1 >/dev/null) || status=$?
  [[ $err =~ status\ (-?[0-9]+) ]] && echo "${BASH_REMATCH[1]}" || echo "$status"
}

# The stand-in GitHub.
"$bin/tidingsbell-github" --certs "$work/certs" --token "$token" --count 3 >"$work/github.out" 2>&1 &
github_pid=$!
for _ in $(seq 200); do grep -q '^listening' "$work/github.out" 2>/dev/null && break; sleep 0.05; done
port=$(sed -n 's/^listening 127.0.0.1://p' "$work/github.out")
[[ -n $port ]] || { echo "the stand-in GitHub did not start" >&2; exit 1; }
export TIDINGSBELL_STANDIN_CONNECT_TO="api.github.com:443:127.0.0.1:$port"
export TIDINGSBELL_STANDIN_CA_FILE=$work/certs/ca.pem

# The stand-in Safari, kept running across everything below.
mkfifo "$work/safari.in" "$work/safari.out"
"$bin/tidingsbell-safari" <"$work/safari.in" >"$work/safari.out" 2>"$work/safari.err" &
safari_pid=$!
exec 4>"$work/safari.in" 5<"$work/safari.out"
safari() {  # the lines Safari prints for the commands, up to the idle after them
  local line
  printf '%s\n' "$@" wait >&4
  while IFS= read -r -t 30 line <&5; do
    [[ $line == idle ]] && return
    echo "$line"
  done
  echo "the stand-in Safari stopped answering" >&2
  exit 1
}
window() { printf '%s\n' "$@" quit | "$bin/tidingsbell-settings"; }
settings() { window "$@" 2>>"$work/settings.err"; }

echo "== a token saved in the settings window"
settings "type $token" submit >/dev/null
check "secret-tool finds the token" test "$(lookup personal_access_token)" = "$token"
check "no file holds it" no_file_holds_a_keychain
check "the settings window said nothing" test ! -s "$work/settings.err"
check "the data folder, if the save made one, is private" data_folder_private
check "the badge counts with it" test "$(safari validate)" = 'badge enabled=true text="3"'

echo "== a locked keyring: nothing prompts, nothing changes"
dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets \
  org.freedesktop.Secret.Service.Lock array:objpath:/org/freedesktop/secrets/collection/login \
  >/dev/null
check "the badge is left alone: nothing was sent" test -z "$(safari 'advance 61' validate)"
check "the keychain tool is refused: interaction not allowed" test "$(find_status)" = -25308
settings "type ghp_refused" submit >/dev/null
check "the save wrote no file" no_file_holds_a_keychain

echo "== the keyring daemon stopped"
# A settings window that found the Secret Service when it started.
mkfifo "$work/window.in" "$work/window.out"
"$bin/tidingsbell-settings" <"$work/window.in" >"$work/window.out" 2>"$work/window.err" &
window_pid=$!
exec 3>"$work/window.in" 6<"$work/window.out"
printf 'show\n' >&3
IFS= read -r -t 30 _ <&6
"$keyring" --daemon stop
check "the badge is left alone: nothing was sent" test -z "$(safari 'advance 61' validate)"
printf 'type ghp_refused\nsubmit\nquit\n' >&3
exec 3>&- 6<&-
check "the settings window's save fails and it exits cleanly" wait "$window_pid"
check "it said nothing" test ! -s "$work/window.err"
check "the save wrote no file" no_file_holds_a_keychain
check "the keychain tool, told to use it: not available" \
  test "$(find_status secret-service)" = -25291
check "a program started now uses the file, which is empty" test "$(find_status)" = 44

echo "== the daemon back"
"$keyring" --daemon start
check "nothing was lost" test "$(lookup personal_access_token)" = "$token"
check "the running Safari reaches it again" \
  test "$(safari 'advance 61' validate)" = 'badge enabled=true text="3"'
"$keyring" --daemon stop
"$keyring" --daemon start
check "restarted under it, its first read reaches the new daemon" \
  test "$(safari 'advance 61' validate)" = 'badge enabled=true text="3"'
echo "== a daemon, then a bus, that stop answering: bounded, and still the keyring"
export TIDINGSBELL_STANDIN_KEYRING_TIMEOUT=1
kill -STOP "$(<"$TIDINGSBELL_TEST_KEYRING/daemon.pid")"
settings "type ghp_refused" submit >/dev/null
check "a program started now saves nowhere else" no_file_holds_a_keychain
check "and answers: not available" test "$(find_status)" = -25291
kill -CONT "$(<"$TIDINGSBELL_TEST_KEYRING/daemon.pid")"
bus=$(pgrep -f "^dbus-daemon .*$TIDINGSBELL_TEST_KEYRING")
kill -STOP "$bus"
check "a bus that accepts and never answers: not available" test "$(find_status)" = -25291
kill -CONT "$bus"
unset TIDINGSBELL_STANDIN_KEYRING_TIMEOUT
check "the token is still the one saved" test "$(lookup personal_access_token)" = "$token"

echo "== programs adding the same item at once, each with its own data folder: one item, one success"
tool delete
adders=()
for i in $(seq 6); do
  { XDG_DATA_HOME=$work/data$i tool add -w "v$i" >/dev/null 2>&1 && echo added; } >>"$work/adds" &
  adders+=($!)
done
wait "${adders[@]}" || true  # all but one find the item there
check "one add succeeded" test "$(grep -c added "$work/adds")" = 1
check "one item" test "$(secret-tool search --all service "$service" account personal_access_token 2>&1 | grep -c '^\[')" = 1

echo "== a token kept in the file when a keyring answers"
secret-tool clear service "$service" account personal_access_token
file_tool add -w "$token"
check "the running Safari reads it from the file meanwhile" \
  test "$(safari 'advance 61' validate)" = 'badge enabled=true text="3"'
window show >/dev/null 2>"$work/move.err"
check "the settings window moves it into the keyring" test "$(lookup personal_access_token)" = "$token"
check "and out of the file" test "$(file_tool find 2>/dev/null; echo $?)" = 44
check "and says so once" test "$(grep -c 'are now in the desktop' "$work/move.err")" = 1
window show >/dev/null 2>"$work/move.err"
check "the next window says nothing" test ! -s "$work/move.err"
file_tool add -w ghp_stale
window show >/dev/null 2>/dev/null
check "an item already in the keyring wins" test "$(lookup personal_access_token)" = "$token"
check "and the file keeps its own, which may be the newer" \
  test "$(file_tool find 2>/dev/null)" = "$(printf %s ghp_stale | od -An -tx1 | tr -d ' \n')"

printf 'quit\n' >&4
check "Safari exits cleanly" wait "$safari_pid"
safari_pid=""
check "nothing on Safari's standard error" test ! -s "$work/safari.err"

((failures == 0)) || { echo "$failures checks failed"; exit 1; }
echo "all checks passed"
