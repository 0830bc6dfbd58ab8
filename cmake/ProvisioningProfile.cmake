# Reads a provisioning profile at configuration and stops, naming the profile and what is wrong,
# when it could not authorise the bundle it is given for. A profile that does not fit is embedded
# and signed without a word, and the system then kills the program at launch ("Launchd job spawn
# failed"), with nothing that points at the profile.
#
# Only the decoding differs between hosts: a profile is a property list signed as CMS, which
# `security cms -D` opens on a Mac and OpenSSL elsewhere (the signature's chain is not judged
# here; the system does that at launch). Everything after it reads the XML with xmllint, which
# macOS and Debian both have. Whether the profile lists this Mac and the signing certificate is
# also left to the system at launch.

# Whether an entitlement value from a profile (possibly a wildcard, "TEAMID.*" or
# "TEAMID.com.example.*") grants `wanted`.
function(_tidingsbell_profile_grants pattern wanted out)
  set(granted FALSE)
  if(pattern STREQUAL wanted)
    set(granted TRUE)
  elseif(pattern MATCHES "^(.*)\\*$")
    string(LENGTH "${CMAKE_MATCH_1}" length)
    string(SUBSTRING "${wanted}" 0 ${length} start)
    if(start STREQUAL CMAKE_MATCH_1)
      set(granted TRUE)
    endif()
  endif()
  set(${out} ${granted} PARENT_SCOPE)
endfunction()

# The text of every node an XPath expression selects in `file`, as a list (strings and dates
# only: each selected element's text).
function(_tidingsbell_plist_values file xpath out)
  execute_process(COMMAND ${TIDINGSBELL_XMLLINT} --xpath "${xpath}" "${file}"
                  OUTPUT_VARIABLE nodes RESULT_VARIABLE failed ERROR_QUIET)
  set(values)
  if(NOT failed)
    string(REGEX MATCHALL "<(string|date)>[^<]*</(string|date)>" elements "${nodes}")
    foreach(element IN LISTS elements)
      string(REGEX REPLACE "^<[a-z]+>([^<]*)</[a-z]+>$" "\\1" value "${element}")
      list(APPEND values "${value}")
    endforeach()
  endif()
  set(${out} "${values}" PARENT_SCOPE)
endfunction()

# tidingsbell_check_profile(PROFILE IDENTIFIER TEAM GROUP UUID_VARIABLE)
#   PROFILE     the .provisionprofile file given for a bundle
#   IDENTIFIER  the bundle's identifier; the profile must grant TEAM.IDENTIFIER
#   GROUP       the keychain access group the entitlements claim
# Sets UUID_VARIABLE to the profile's UUID (how Xcode names an installed profile).
function(tidingsbell_check_profile profile identifier team group uuid_out)
  if(NOT EXISTS "${profile}" OR IS_DIRECTORY "${profile}")
    message(FATAL_ERROR "No provisioning profile (no such file):\n  ${profile}")
  endif()
  if(NOT team)
    message(FATAL_ERROR "A provisioning profile is checked against TIDINGSBELL_TEAM_ID: set it")
  endif()
  find_program(TIDINGSBELL_XMLLINT xmllint REQUIRED)
  # The profile is an input of the configuration: replacing it checks the new one.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${profile}")

  get_filename_component(name "${profile}" NAME)
  set(decoded "${CMAKE_CURRENT_BINARY_DIR}/profiles/${identifier}.plist")
  file(MAKE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/profiles")
  if(CMAKE_HOST_APPLE)
    set(decode security cms -D -i "${profile}" -o "${decoded}")
  else()
    find_program(TIDINGSBELL_OPENSSL openssl REQUIRED)
    set(decode ${TIDINGSBELL_OPENSSL} cms -verify -noverify -inform DER -in "${profile}"
        -out "${decoded}")
  endif()
  file(REMOVE "${decoded}")
  execute_process(COMMAND ${decode} RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
  if(NOT failed)
    execute_process(COMMAND ${TIDINGSBELL_XMLLINT} --noout "${decoded}" RESULT_VARIABLE failed
                    OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(failed)
    list(JOIN decode " " command)
    message(FATAL_ERROR "A provisioning profile is not a signed property list:\n  ${profile}\n"
                        "  (${command} could not read it)")
  endif()

  set(top "/plist/dict/key[.='KEY']/following-sibling::*[1]")
  set(entitlement "/plist/dict/key[.='Entitlements']/following-sibling::dict[1]/key[.='KEY']/following-sibling::*[1]")
  string(REPLACE KEY TeamIdentifier teams_xpath "${top}/string")
  string(REPLACE KEY ExpirationDate expiry_xpath "${top}")
  string(REPLACE KEY UUID uuid_xpath "${top}")
  string(REPLACE KEY com.apple.application-identifier identifier_xpath "${entitlement}")
  string(REPLACE KEY keychain-access-groups groups_xpath "${entitlement}/string")
  _tidingsbell_plist_values("${decoded}" "${teams_xpath}" teams)
  _tidingsbell_plist_values("${decoded}" "${expiry_xpath}" expiry)
  _tidingsbell_plist_values("${decoded}" "${uuid_xpath}" uuid)
  _tidingsbell_plist_values("${decoded}" "${identifier_xpath}" granted_identifier)
  _tidingsbell_plist_values("${decoded}" "${groups_xpath}" groups)

  set(faults)
  if(NOT team IN_LIST teams)
    list(JOIN teams ", " listed)
    list(APPEND faults "it is of the team '${listed}', not of TIDINGSBELL_TEAM_ID '${team}'")
  endif()
  _tidingsbell_profile_grants("${granted_identifier}" "${team}.${identifier}" fits)
  if(NOT fits)
    set(wanted "${team}.${identifier}")
    list(APPEND faults "its application identifier '${granted_identifier}' does not cover '${wanted}'")
  endif()
  # Dates in a property list are UTC, written as below: they compare as text.
  string(TIMESTAMP now "%Y-%m-%dT%H:%M:%SZ" UTC)
  if(NOT expiry MATCHES "^[0-9]+-[0-9][0-9]-[0-9][0-9]T[0-9][0-9]:[0-9][0-9]:[0-9][0-9]Z$")
    list(APPEND faults "it has no ExpirationDate")
  elseif(NOT expiry STRGREATER now)
    list(APPEND faults "it expired on ${expiry}")
  endif()
  set(covered FALSE)
  foreach(granted_group IN LISTS groups)
    _tidingsbell_profile_grants("${granted_group}" "${group}" fits)
    if(fits)
      set(covered TRUE)
    endif()
  endforeach()
  if(NOT covered)
    list(JOIN groups ", " listed)
    list(APPEND faults "its keychain-access-groups ('${listed}') do not cover '${group}'")
  endif()

  if(faults)
    list(JOIN faults ";\n  " text)
    # Indented lines are not rewrapped: the path and each fault stay whole on a line of their own.
    message(FATAL_ERROR "A provisioning profile does not fit ${identifier}:\n  ${profile}\n  "
                        "${text}\nThe system would kill the program at launch. Make or download "
                        "a profile for this App ID and team (see the README).")
  endif()
  message(STATUS "Provisioning profile ${name}: ${granted_identifier}, team ${team}, "
                 "until ${expiry}")
  set(${uuid_out} "${uuid}" PARENT_SCOPE)
endfunction()
