# Builds the macOS bundles on Linux: Debian's clang for arm64 and x86_64 (macOS 15.0) and
# ld64.lld, against the macOS SDK folder given in TIDINGSBELL_MACOS_SDK (a standard .sdk layout).
# On a Mac no toolchain file is used: Xcode's clang, ld and SDK are found as usual.

set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(CMAKE_OSX_DEPLOYMENT_TARGET 15.0 CACHE STRING "")

if(NOT TIDINGSBELL_MACOS_SDK)
  set(TIDINGSBELL_MACOS_SDK "$ENV{TIDINGSBELL_MACOS_SDK}")
endif()
if(NOT EXISTS "${TIDINGSBELL_MACOS_SDK}/System/Library/Frameworks")
  message(FATAL_ERROR "TIDINGSBELL_MACOS_SDK ('${TIDINGSBELL_MACOS_SDK}') is not a macOS SDK folder")
endif()
set(TIDINGSBELL_MACOS_SDK "${TIDINGSBELL_MACOS_SDK}" CACHE PATH "macOS SDK folder")
set(CMAKE_OSX_SYSROOT "${TIDINGSBELL_MACOS_SDK}" CACHE PATH "")

# The LLVM tools beside Debian's default clang (llvm-lipo, llvm-libtool-darwin, ld64.lld), which
# are not all on the PATH under those names.
execute_process(COMMAND llvm-config --bindir OUTPUT_VARIABLE llvm OUTPUT_STRIP_TRAILING_WHITESPACE
                ERROR_QUIET)
foreach(tool ld64.lld llvm-lipo llvm-libtool-darwin)
  if(NOT EXISTS "${llvm}/${tool}")
    message(FATAL_ERROR "No ${tool} in LLVM's folder ('${llvm}', from llvm-config --bindir): "
                        "install Debian's clang, lld and llvm")
  endif()
endforeach()
set(CMAKE_CXX_COMPILER clang++)
# The -arch options CMAKE_OSX_ARCHITECTURES adds pick each slice's processor.
set(CMAKE_CXX_COMPILER_TARGET arm64-apple-macos15.0)
# Given more than one -arch, clang's driver compiles and links each slice, then joins them with a
# program named lipo, which it looks for first under -B: Debian's llvm-lipo under that name.
set(tools "${CMAKE_BINARY_DIR}/darwin-cross-tools")
file(MAKE_DIRECTORY "${tools}")
file(CREATE_LINK ${llvm}/llvm-lipo "${tools}/lipo" SYMBOLIC)
# Debian's clang does not pick libc++ by itself for a Darwin target.
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++ -B${tools}")
set(CMAKE_LINKER ${llvm}/ld64.lld)
# The linker version tells the driver which ld64 flags it may pass (-platform_version needs 520).
set(CMAKE_EXE_LINKER_FLAGS_INIT "--ld-path=${CMAKE_LINKER} -mlinker-version=711 -B${tools}")

# Only the SDK is searched for frameworks and libraries, never the build machine's own.
set(CMAKE_FIND_ROOT_PATH "${TIDINGSBELL_MACOS_SDK}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Archives ld64.lld reads: llvm-ar cannot hold universal objects, llvm-libtool-darwin makes one
# archive per slice inside a universal file, as Apple's libtool does.
set(CMAKE_AR /usr/bin/llvm-ar CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/llvm-ranlib CACHE FILEPATH "")
set(CMAKE_CXX_CREATE_STATIC_LIBRARY "${llvm}/llvm-libtool-darwin -static -o <TARGET> <OBJECTS>")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TIDINGSBELL_MACOS_SDK)
