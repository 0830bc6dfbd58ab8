# Compiles every source under platform/apple/ for macOS with clang, syntax only, warnings as
# errors, against the SDK folder in TIDINGSBELL_MACOS_SDK: a standard .sdk, or a header
# collection with Frameworks/ and include/ at its top. Nothing is linked and nothing runs.

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "The macOS compile check needs clang (configure with the macos-check preset)")
endif()
set(sdk "${TIDINGSBELL_MACOS_SDK}")
if(EXISTS "${sdk}/System/Library/Frameworks")
  set(sdk_flags -isysroot "${sdk}")
elseif(EXISTS "${sdk}/Frameworks" AND EXISTS "${sdk}/include")
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-resource-dir
                  OUTPUT_VARIABLE resource_dir OUTPUT_STRIP_TRAILING_WHITESPACE)
  # libc++ first, then the C headers, then the compiler's own, as a real SDK orders them.
  set(sdk_flags -nostdinc -nostdinc++ -isystem "${sdk}/include/c++/v1" -isystem "${sdk}/include"
                -isystem "${resource_dir}/include" -iframework "${sdk}/Frameworks")
else()
  message(FATAL_ERROR "${sdk} is neither a macOS SDK nor a header collection with Frameworks/ and include/")
endif()

set(check_flags -target arm64-apple-macos15.0 -std=c++20 -fblocks -fsyntax-only
                -Wall -Wextra -Wpedantic -Wold-style-cast -Wshadow -Wconversion -Wsign-conversion -Wnon-virtual-dtor
                -Woverloaded-virtual -Werror -I "${PROJECT_SOURCE_DIR}"
                -I "${PROJECT_BINARY_DIR}/generated" ${sdk_flags})

file(GLOB apple_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/platform/apple/*.cpp")
set(stamps "")
foreach(source IN LISTS apple_sources)
  get_filename_component(name "${source}" NAME)
  set(stamp "${PROJECT_BINARY_DIR}/macos-check/${name}.checked")
  add_custom_command(
    OUTPUT "${stamp}"
    COMMAND ${CMAKE_CXX_COMPILER} ${check_flags} "${source}"
    COMMAND ${CMAKE_COMMAND} -E touch "${stamp}"
    DEPENDS "${source}"
    IMPLICIT_DEPENDS CXX "${source}"
    COMMENT "macOS syntax check: ${name}"
    VERBATIM)
  list(APPEND stamps "${stamp}")
endforeach()
add_custom_target(macos_check ALL DEPENDS ${stamps})
