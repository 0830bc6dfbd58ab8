#!/usr/bin/env bash
# The macOS bundle files are valid XML and agree with each other and with the code: the files the
# lists name exist, the interface file's outlets and actions are wired, and every Xcode property
# the build sets is one CMake documents (CMake here has no Xcode generator to try them). Given a
# configured macOS build folder (the top one, such as build/macos), it also tests what the
# configuration made: identifiers under the build's prefix that agree between property lists and
# entitlements, the five entitlements (six in Debug, with get-task-allow); and once built, the
# bundle: every file in it the same as what it was built from, the icon with every size macOS
# asks for, and each slice of each executable with its every undefined symbol bound, no keychain
# writer in the extension, and the entry point and frameworks it needs. A folder with several
# configurations needs the one to test.
#   tests/packaging_test.sh [BUILD-FOLDER [CONFIGURATION]]
set -euo pipefail
build=${1:-}
config=${2:-}
dir=$(cd "$(dirname "$0")/../packaging/macos" && pwd)
source_root=$(dirname "$(dirname "$dir")")
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

# What the lists name must exist: the principal class the extension registers, its content
# script and toolbar image, the app's interface file.
extension_list=$dir/Extension-Info.plist.in
principal=$(value "$extension_list" NSExtension/NSExtensionPrincipalClass)
grep -q "objc_allocateClassPair([^,]*, \"$principal\"" "$source_root/macos/extension_classes.cpp" ||
  fail "the extension's principal class '$principal' is not a class it registers"
script=$(xmllint --xpath "string(//key[.='SFSafariContentScript']/following-sibling::array[1]/dict/key[.='Script']/following-sibling::string[1])" \
  "$extension_list")
[[ -f $dir/$script ]] || fail "the content script '$script' is missing"
image=$(value "$extension_list" NSExtension/SFSafariToolbarItem/Image)
head -c 5 "$dir/$image" 2>/dev/null | grep -q '%PDF-' || fail "the toolbar image '$image' is not a PDF"
[[ -f $dir/$(value "$dir/App-Info.plist.in" NSMainStoryboardFile).storyboard ]] ||
  fail "NSMainStoryboardFile names no interface file"
icon=$(value "$dir/App-Info.plist.in" CFBundleIconFile)
[[ -n $icon && -f $dir/$icon.icns ]] || fail "CFBundleIconFile names no icon file"

# CMake documents some Xcode properties by a pattern: XCODE_ATTRIBUTE_<an-attribute> takes any
# Xcode setting, XCODE_EMBED_<type> only the types its page lists.
documented=$(cmake --help-property-list)
for property in $(cat "$source_root/CMakeLists.txt" "$source_root"/cmake/*.cmake "$dir/CMakeLists.txt" |
                  grep -oE '\bXCODE_[A-Z0-9_]+' | sort -u); do
  grep -qx "$property" <<<"$documented" && continue
  [[ $property == XCODE_ATTRIBUTE_?* ]] && continue
  if [[ $property =~ ^XCODE_EMBED_([A-Z_]+)$ ]] &&
     cmake --help-property 'XCODE_EMBED_<type>' | grep -qx "\`\`${BASH_REMATCH[1]}\`\`"; then
    continue
  fi
  fail "$property is not an Xcode property CMake $(cmake --version | awk 'NR == 1 { print $3 }') documents"
done

board=$dir/Main.storyboard
controller=$(xmllint --xpath "string(//viewController[@customClass='ViewController']/@id)" "$board")
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

if [[ -n $build ]]; then
  cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
  [[ -f $build/CMakeCache.txt ]] || { echo "packaging_test: $build is not a build folder" >&2; exit 2; }
  type=$(cached CMAKE_BUILD_TYPE)
  prefix=$(cached TIDINGSBELL_IDENTIFIER_PREFIX)
  team=$(cached TIDINGSBELL_TEAM_ID)
  configured=$build/packaging/macos
  # Each configuration of a multi-configuration folder has its own entitlements and bundle.
  own=$configured
  if [[ -n $(cached CMAKE_CONFIGURATION_TYPES) ]]; then
    [[ ";$(cached CMAKE_CONFIGURATION_TYPES);" == *";$config;"* ]] ||
      { echo "packaging_test: name one of the configurations $(cached CMAKE_CONFIGURATION_TYPES) of $build" >&2; exit 2; }
    type=$config
    own=$configured/$config
  fi
  app_id=$prefix.Tidingsbell
  extension_id=$app_id.Extension

  for file in "$configured/App-Info.plist" "$configured/Extension-Info.plist" \
              "$own/Tidingsbell.entitlements" "$own/Tidingsbell_Extension.entitlements"; do
    xmllint --noout "$file" || fail "the configured $file does not parse"
    ! grep -q '@[A-Z_]*@' "$file" || fail "$file holds an unconfigured @VARIABLE@"
  done
  [[ $(value "$configured/App-Info.plist" CFBundleIdentifier) == "$app_id" ]] ||
    fail "the app's identifier does not follow the prefix '$prefix'"
  # The system accepts an extension only under its app's identifier.
  [[ $(value "$configured/Extension-Info.plist" CFBundleIdentifier) == "$extension_id" ]] ||
    fail "the extension's identifier is not the app's with .Extension"

  for kind in Tidingsbell:$app_id Tidingsbell_Extension:$extension_id; do
    file=$own/${kind%%:*}.entitlements
    [[ $(value "$file" com.apple.application-identifier) == "$team.${kind#*:}" ]] ||
      fail "$file: the application identifier is not the team's and the bundle's"
    group=$(xmllint --xpath "string(/plist/dict/key[.='keychain-access-groups']/following-sibling::*[1][self::array][count(string)=1]/string)" "$file")
    [[ $group == "$team.$app_id" ]] || fail "$file: keychain-access-groups is not the one shared group"
    count=$(xmllint --xpath "count(/plist/dict/key)" "$file")
    debugger=$(xmllint --xpath "count(/plist/dict/key[.='com.apple.security.get-task-allow']/following-sibling::*[1][self::true])" "$file")
    if [[ $type == Debug ]]; then
      [[ $count == 6 && $debugger == 1 ]] || fail "$file: a Debug build needs the five and get-task-allow"
    else
      [[ $count == 5 && $debugger == 0 ]] || fail "$file has $count entitlements, expected the five"
    fi
  done
fi

# Built: the last build step leaves its stamp (a configuration alone writes the lists into the
# bundles' folders already).
app=
[[ -n $build && -f $own/Tidingsbell.app.stamp ]] && app=$own/Tidingsbell.app/Contents
if [[ -n $app ]]; then
  appex=$app/PlugIns/Tidingsbell_Extension.appex/Contents
  [[ -d $appex ]] || fail "the extension is not inside the app's PlugIns"
  # The bundle holds what it was built from, not an earlier copy.
  for pair in "$configured/App-Info.plist:$app/Info.plist" \
              "$configured/Extension-Info.plist:$appex/Info.plist" \
              "$dir/$script:$appex/Resources/$script" "$dir/$image:$appex/Resources/$image" \
              "$dir/$icon.icns:$app/Resources/$icon.icns"; do
    cmp -s "${pair%%:*}" "${pair#*:}" || fail "${pair#*:} is not a copy of ${pair%%:*}"
  done
  # An .icns file is 'icns' and its length, then elements: a type, the element's length (both
  # big-endian, with this header), the image. The type gives the size; a PNG's own header too.
  number() { od -A n -t u1 -j "$2" -N 4 "$1" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }'; }
  icns=$app/Resources/$icon.icns
  end=$(stat -c %s "$icns")
  [[ $(head -c 4 "$icns") == icns && $(number "$icns" 4) == "$end" ]] || fail "$icon.icns is not an icon file"
  offset=8 sizes=()
  while ((offset + 8 <= end)); do
    type=$(dd if="$icns" bs=1 skip="$offset" count=4 2>/dev/null)
    length=$(number "$icns" $((offset + 4)))
    ((length >= 8)) || break
    case $type in
      is32 | icp4) size=16 ;; il32 | icp5 | ic11) size=32 ;; ic12) size=64 ;; it32 | ic07) size=128 ;;
      ic08 | ic13) size=256 ;; ic09 | ic14) size=512 ;; ic10) size=1024 ;; *) size= ;;
    esac
    if [[ -n $size && $(od -A n -t x1 -j $((offset + 8)) -N 4 "$icns" | tr -d ' ') == 89504e47 ]]; then
      [[ $(number "$icns" $((offset + 24))) == "$size" ]] || fail "$icon.icns: the $type image is not ${size} pixels wide"
    fi
    [[ -n $size ]] && sizes+=("$size")
    offset=$((offset + length))
  done
  ((offset == end)) || fail "$icon.icns: its elements do not end where the file does"
  for size in 16 32 64 128 256 512 1024; do
    [[ " ${sizes[*]} " == *" $size "* ]] || fail "$icon.icns has no ${size}-pixel image"
  done

  lipo=$(command -v llvm-lipo || echo /usr/lib/llvm-14/bin/llvm-lipo)
  IFS=';' read -ra wanted <<<"$(cached CMAKE_OSX_ARCHITECTURES)"
  app_exe=$app/MacOS/$(value "$app/Info.plist" CFBundleExecutable)
  extension_exe=$appex/MacOS/$(value "$appex/Info.plist" CFBundleExecutable)
  for exe in "$app_exe" "$extension_exe"; do
    [[ -f $exe ]] || { fail "$exe (CFBundleExecutable) is missing"; continue; }
    name=$(basename "$exe")
    archs=$("$lipo" -archs "$exe" 2>/dev/null | tr ' ' '\n' | sed '/^$/d' | sort | xargs)
    [[ $archs == "$(printf '%s\n' "${wanted[@]}" | sort | xargs)" ]] ||
      fail "$name holds the slices '$archs', expected '${wanted[*]}'"
    # The identifiers the code uses: the keychain service in both, the extension the app names.
    grep -aqF "$app_id" "$exe" || fail "$name does not name the keychain service $app_id"
  done
  grep -aqF "$extension_id" "$app_exe" || fail "the app does not name the extension $extension_id"
  if [[ $prefix != com.marblequail ]] && grep -rlaqF com.marblequail "$own/Tidingsbell.app"; then
    fail "the bundle still names com.marblequail: $(grep -rlaF com.marblequail "$own/Tidingsbell.app" | xargs)"
  fi

  for arch in "${wanted[@]}"; do
    imports() { llvm-nm --arch="$arch" -m -u "$1" 2>/dev/null || true; }
    for exe in "$app_exe" "$extension_exe"; do
      name="$(basename "$exe") ($arch)"
      unbound=$(imports "$exe" | grep -v ' (from [^)]*)$' || true)
      [[ -z $unbound ]] || fail "$name has symbols bound to no library: $unbound"
    done
    for writer in SecItemAdd SecItemUpdate SecItemDelete; do
      ! imports "$extension_exe" | grep -q " _$writer " ||
        fail "the extension ($arch) imports $writer: it only reads the keychain"
    done

    # The entry point is a file offset; __TEXT starts the file, so its address is __TEXT's plus it.
    read -r base offset < <(llvm-objdump --macho --arch="$arch" --private-headers "$extension_exe" 2>/dev/null | awk '
      $1 == "cmd" { cmd = $2 }
      $1 == "segname" { text = (cmd == "LC_SEGMENT_64" && $2 == "__TEXT") }
      text && $1 == "vmaddr" { base = $2 }
      cmd == "LC_MAIN" && $1 == "entryoff" { offset = $2 }
      END { print base, offset }') || true
    entry=
    [[ -n ${base:-} && -n ${offset:-} ]] && entry=$(printf '0x%016x' $((base + offset)))
    stub=$(llvm-objdump --macho --arch="$arch" --indirect-symbols "$extension_exe" 2>/dev/null | awk '
      /^Indirect symbols for/ { stubs = ($4 == "(__TEXT,__stubs)") }
      stubs && $3 == "_NSExtensionMain" { print $1 }')
    [[ -n $entry && $entry == "$stub" ]] ||
      fail "the extension's ($arch) entry point ($entry) is not the stub of NSExtensionMain ($stub)"
    libraries=$(llvm-objdump --macho --arch="$arch" --dylibs-used "$extension_exe" 2>/dev/null || true)
    for framework in SafariServices UserNotifications; do
      grep -q "/$framework.framework/" <<<"$libraries" ||
        fail "the extension ($arch) does not link $framework"
    done
  done
fi

if ((failures)); then exit 1; fi
echo "packaging files${build:+, the configured build}${app:+ and the built bundle}: all checks passed"
