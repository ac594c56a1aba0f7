# Finds the third-party libraries that scripts/setup.sh built for this architecture into the
# cache outside the clone.
if(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(QUENBY_DEPS_CACHE "$ENV{XDG_CACHE_HOME}/quenby-launcher")
else()
  set(QUENBY_DEPS_CACHE "$ENV{HOME}/.cache/quenby-launcher")
endif()
set(_deps_file "${QUENBY_DEPS_CACHE}/${CMAKE_SYSTEM_PROCESSOR}/current.cmake")
if(NOT EXISTS "${_deps_file}")
  message(FATAL_ERROR "No dependency build for ${CMAKE_SYSTEM_PROCESSOR}: run scripts/setup.sh first")
endif()
include("${_deps_file}")

# Found afresh at every configure: a build folder made before setup.sh built another version
# (or another TLS) must not keep the old one from its cache.
unset(CURL_DIR CACHE)
unset(jsoncpp_DIR CACHE)
unset(GTest_DIR CACHE)
find_package(CURL CONFIG REQUIRED PATHS "${QUENBY_CURL_PREFIX}" NO_DEFAULT_PATH)
find_package(jsoncpp CONFIG REQUIRED PATHS "${QUENBY_JSONCPP_PREFIX}" NO_DEFAULT_PATH)
find_package(GTest CONFIG REQUIRED PATHS "${QUENBY_GTEST_PREFIX}" NO_DEFAULT_PATH)

# The LZMA SDK's 7z decoder: only what extraction needs. PPMd is left out, so it is refused.
set(_sdk "${QUENBY_LZMA_SDK_DIR}")
add_library(lzma_sdk_7z STATIC
  ${_sdk}/7zAlloc.c ${_sdk}/7zArcIn.c ${_sdk}/7zBuf.c ${_sdk}/7zBuf2.c ${_sdk}/7zCrc.c
  ${_sdk}/7zCrcOpt.c ${_sdk}/7zDec.c ${_sdk}/7zFile.c ${_sdk}/7zStream.c ${_sdk}/Bcj2.c
  ${_sdk}/Bra.c ${_sdk}/Bra86.c ${_sdk}/BraIA64.c ${_sdk}/CpuArch.c ${_sdk}/Delta.c
  ${_sdk}/Lzma2Dec.c ${_sdk}/LzmaDec.c ${_sdk}/Lzma2DecMt.c ${_sdk}/MtDec.c ${_sdk}/Threads.c ${_sdk}/Alloc.c)
target_include_directories(lzma_sdk_7z SYSTEM PUBLIC "${_sdk}")
target_compile_definitions(lzma_sdk_7z PUBLIC Z7_EXTRACT_ONLY)
target_compile_options(lzma_sdk_7z PRIVATE -O2 -w)

# libsodium (signatures only), built static for MinGW by scripts/setup.sh.
add_library(sodium STATIC IMPORTED GLOBAL)
set_target_properties(sodium PROPERTIES
  IMPORTED_LOCATION "${QUENBY_SODIUM_PREFIX}/lib/libsodium.a"
  INTERFACE_INCLUDE_DIRECTORIES "${QUENBY_SODIUM_PREFIX}/include"
  INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC)
