#!/usr/bin/env bash
# The macOS bundle files are valid XML and hold the identifiers, keys, outlets and actions the
# bundles need; checked on Linux without building the bundles.
set -euo pipefail
dir=$(cd "$(dirname "$0")/../packaging/macos" && pwd)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for file in "$dir"/*.plist.in "$dir"/*.entitlements.in "$dir"/Main.storyboard; do
  xmllint --noout "$file" || fail "$(basename "$file") is not valid XML"
done

# The value that follows a key in a property list, found by the key's path of dictionaries.
value() {
  local file=$1 path=$2 xpath="/plist/dict" key
  IFS=/ read -ra keys <<<"$path"
  for key in "${keys[@]:0:${#keys[@]}-1}"; do xpath+="/key[.='$key']/following-sibling::dict[1]"; done
  xpath+="/key[.='${keys[-1]}']/following-sibling::*[1]"
  xmllint --xpath "string($xpath)" "$file" 2>/dev/null || true
}
expect() {  # file key-path expected
  local got
  got=$(value "$dir/$1" "$2")
  [[ $got == "$3" ]] || fail "$1: $2 is '$got', expected '$3'"
}
expect_true() {
  xmllint --xpath "/plist/dict/key[.='$2']/following-sibling::*[1][self::true]" "$dir/$1" >/dev/null 2>&1 ||
    fail "$1: $2 is not true"
}

expect App-Info.plist.in CFBundleIdentifier com.marblequail.Tidingsbell
expect App-Info.plist.in CFBundleExecutable Tidingsbell
expect App-Info.plist.in CFBundlePackageType APPL
expect App-Info.plist.in NSPrincipalClass NSApplication
expect App-Info.plist.in NSMainStoryboardFile Main
expect App-Info.plist.in LSMinimumSystemVersion 15.0
expect App-Info.plist.in CFBundleShortVersionString @PROJECT_VERSION@

expect Extension-Info.plist.in CFBundleIdentifier com.marblequail.Tidingsbell.Extension
expect Extension-Info.plist.in CFBundleExecutable Tidingsbell_Extension
expect Extension-Info.plist.in CFBundlePackageType 'XPC!'
expect Extension-Info.plist.in LSMinimumSystemVersion 15.0
expect Extension-Info.plist.in NSExtension/NSExtensionPointIdentifier com.apple.Safari.extension
expect Extension-Info.plist.in NSExtension/NSExtensionPrincipalClass SafariExtensionHandler
expect Extension-Info.plist.in NSExtension/SFSafariToolbarItem/Action Command
expect Extension-Info.plist.in NSExtension/SFSafariToolbarItem/Image ToolbarItemIcon.pdf
expect Extension-Info.plist.in NSExtension/SFSafariWebsiteAccess/Level Some
[[ -n $(value "$dir/Extension-Info.plist.in" NSExtension/SFSafariToolbarItem/Label) ]] ||
  fail "the toolbar item has no label"
script=$(xmllint --xpath "string(//key[.='SFSafariContentScript']/following-sibling::array[1]/dict/key[.='Script']/following-sibling::string[1])" \
  "$dir/Extension-Info.plist.in")
[[ -f $dir/$script ]] || fail "the content script '$script' is missing"
grep -q 'safari.extension.dispatchMessage' "$dir/$script" || fail "the content script sends no message"
head -c 5 "$dir/ToolbarItemIcon.pdf" | grep -q '%PDF-' || fail "the toolbar image is not a PDF"

for kind in App Extension; do
  file=$kind.entitlements.in
  suffix=com.marblequail.Tidingsbell
  [[ $kind == Extension ]] && suffix+=.Extension
  expect_true "$file" com.apple.security.app-sandbox
  expect_true "$file" com.apple.security.network.client
  expect "$file" com.apple.application-identifier "@TIDINGSBELL_TEAM_ID@.$suffix"
  expect "$file" com.apple.developer.team-identifier "@TIDINGSBELL_TEAM_ID@"
  group=$(xmllint --xpath "string(/plist/dict/key[.='keychain-access-groups']/following-sibling::*[1][self::array][count(string)=1]/string)" "$dir/$file")
  [[ $group == "@TIDINGSBELL_TEAM_ID@.com.marblequail.Tidingsbell" ]] ||
    fail "$file: keychain-access-groups is not the one shared group"
  count=$(xmllint --xpath "count(/plist/dict/key)" "$dir/$file")
  [[ $count == 5 ]] || fail "$file has $count entitlements, expected 5"
done

board=$dir/Main.storyboard
controller=$(xmllint --xpath "string(//viewController[@customClass='ViewController']/@id)" "$board")
[[ -n $controller ]] || fail "no ViewController scene"
delegate=$(xmllint --xpath "string(//customObject[@customClass='AppDelegate']/@id)" "$board")
[[ -n $delegate ]] || fail "no AppDelegate object"
[[ $(xmllint --xpath "string(//application/connections/outlet[@property='delegate']/@destination)" "$board") == "$delegate" ]] ||
  fail "the application's delegate is not the AppDelegate"
for outlet in appNameLabel personalAccessTokenTextField submitButton muteSwitch; do
  target=$(xmllint --xpath "string(//viewController[@id='$controller']/connections/outlet[@property='$outlet']/@destination)" "$board")
  [[ -n $target ]] && xmllint --xpath "//*[@id='$target']" "$board" >/dev/null 2>&1 ||
    fail "outlet $outlet is not connected"
done
for action in submitPersonalAccessTokenAction: muteValueChange: openSafariExtensionPreferences:; do
  [[ $(xmllint --xpath "count(//action[@selector='$action'][@target='$controller'])" "$board") -ge 1 ]] ||
    fail "action $action is not wired to the controller"
done
mute=$(xmllint --xpath "string(//viewController[@id='$controller']/connections/outlet[@property='muteSwitch']/@destination)" "$board")
[[ $(xmllint --xpath "string(//button[@id='$mute']/buttonCell/@type)" "$board") == check ]] ||
  fail "the mute control is not an on/off button"
[[ $(xmllint --xpath "count(//button[@id='$mute']//action[@selector='muteValueChange:'])" "$board") == 1 ]] ||
  fail "muteValueChange: does not come from the mute button"

if ((failures)); then exit 1; fi
echo "packaging files: all checks passed"
