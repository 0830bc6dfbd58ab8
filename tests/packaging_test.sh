#!/usr/bin/env bash
# The macOS bundle files are valid XML and hold the identifiers, keys, outlets and actions the
# bundles need. Given a built Tidingsbell.app (scripts/macos-check), it also tests the bundle:
# its layout, both property lists as configured, and that each executable's every undefined
# symbol is bound to a library it links, with the entry points and imports the bundles need.
#   tests/packaging_test.sh [Tidingsbell.app]
set -euo pipefail
bundle=${1:-}
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
expect() {  # file (in packaging/macos, or a path) key-path expected
  local file=$1 got
  [[ $file == */* ]] || file=$dir/$file
  got=$(value "$file" "$2")
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

if [[ -n $bundle ]]; then
  app=$bundle/Contents
  appex=$app/PlugIns/Tidingsbell_Extension.appex/Contents
  [[ -d $appex ]] || fail "the extension is not inside the app's PlugIns"
  for plist in "$app/Info.plist" "$appex/Info.plist"; do
    xmllint --noout "$plist" || fail "$plist does not parse"
    ! grep -q '@[A-Z_]*@' "$plist" || fail "$plist holds an unconfigured @VARIABLE@"
  done
  # The values come from the .in files checked above; this tells the two bundles' lists apart.
  expect "$app/Info.plist" CFBundleIdentifier com.marblequail.Tidingsbell
  expect "$appex/Info.plist" CFBundleIdentifier com.marblequail.Tidingsbell.Extension
  for resource in script.js ToolbarItemIcon.pdf; do
    [[ -f $appex/Resources/$resource ]] || fail "the extension's Resources lack $resource"
  done

  app_exe=$app/MacOS/Tidingsbell
  extension_exe=$appex/MacOS/Tidingsbell_Extension
  imports() { llvm-nm -m -u "$1" 2>/dev/null || true; }
  for exe in "$app_exe" "$extension_exe"; do
    [[ -f $exe ]] || { fail "$exe is missing"; continue; }
    unbound=$(imports "$exe" | grep -v ' (from [^)]*)$' || true)
    [[ -z $unbound ]] || fail "$(basename "$exe") has symbols bound to no library: $unbound"
    imports "$exe" | grep -q ' _kSecUseDataProtectionKeychain (from Security)$' ||
      fail "$(basename "$exe") does not ask for the data-protection keychain"
  done
  imports "$app_exe" | grep -q ' _NSApplicationMain (from AppKit)$' ||
    fail "the app does not import NSApplicationMain"

  # The entry point is a file offset; __TEXT starts the file, so its address is __TEXT's plus it.
  read -r base offset < <(llvm-objdump --macho --private-headers "$extension_exe" 2>/dev/null | awk '
    $1 == "cmd" { cmd = $2 }
    $1 == "segname" { text = (cmd == "LC_SEGMENT_64" && $2 == "__TEXT") }
    text && $1 == "vmaddr" { base = $2 }
    cmd == "LC_MAIN" && $1 == "entryoff" { offset = $2 }
    END { print base, offset }') || true
  entry=
  [[ -n ${base:-} && -n ${offset:-} ]] && entry=$(printf '0x%016x' $((base + offset)))
  stub=$(llvm-objdump --macho --indirect-symbols "$extension_exe" 2>/dev/null | awk '
    /^Indirect symbols for/ { stubs = ($4 == "(__TEXT,__stubs)") }
    stubs && $3 == "_NSExtensionMain" { print $1 }')
  [[ -n $entry && $entry == "$stub" ]] ||
    fail "the extension's entry point ($entry) is not the stub of NSExtensionMain ($stub)"
  libraries=$(llvm-objdump --macho --dylibs-used "$extension_exe" 2>/dev/null || true)
  for framework in SafariServices UserNotifications; do
    grep -q "/$framework.framework/" <<<"$libraries" || fail "the extension does not link $framework"
  done
fi

if ((failures)); then exit 1; fi
echo "packaging files${bundle:+ and the built bundle}: all checks passed"
