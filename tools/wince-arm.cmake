# Toolchain hook for the handheld build: Keyvane for Windows CE / Windows
# Mobile on the device's ARM processor (preset "handheld").
#
# This tree cannot ship what such a build needs; bring them:
#   - the device's ARM compiler for Windows CE (a GCC-style cross compiler
#     whose commands share a prefix, e.g. <dir>/bin/arm-mingw32ce-gcc, -g++,
#     -windres, -strip);
#   - the device's SDK: its headers and import libraries (coredll, ws2,
#     ole32, ...), with include/ and lib/ folders.
# and name them:
#   cmake --preset handheld -DKEYVANE_CE_TOOLCHAIN_PREFIX=<dir>/bin/arm-mingw32ce- \
#         -DKEYVANE_CE_SDK=<sdk root> [-DKEYVANE_CE_VERSION=5.0] [-DKEYVANE_CE_PROCESSOR=ARMV4I]
# (or the environment variables of the same names). The result is
# build/handheld/Keyvane.exe; the device keeps its own Decoder.dll.
#
# The build then takes the Windows branch of the tree (platform/win32). The
# calls that only Windows CE has are declared in platform/win32/ce_api.h and
# bound at run time from coredll.dll (platform/win32/ce_calls.cpp); where the
# device SDK's headers declare them too, those two files are where the build
# is adapted. This hook is prepared, not tried: no device toolchain is at hand.
foreach(var KEYVANE_CE_TOOLCHAIN_PREFIX KEYVANE_CE_SDK KEYVANE_CE_VERSION KEYVANE_CE_PROCESSOR)
  if(NOT DEFINED ${var} AND DEFINED ENV{${var}})
    set(${var} "$ENV{${var}}")
  endif()
endforeach()
# Passed on to the compiler checks, which read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
     KEYVANE_CE_TOOLCHAIN_PREFIX KEYVANE_CE_SDK KEYVANE_CE_VERSION KEYVANE_CE_PROCESSOR)

if(NOT KEYVANE_CE_TOOLCHAIN_PREFIX OR NOT KEYVANE_CE_SDK)
  message(FATAL_ERROR
    "The handheld build needs the device's ARM toolchain and SDK: give "
    "-DKEYVANE_CE_TOOLCHAIN_PREFIX=<dir>/bin/<target>- and -DKEYVANE_CE_SDK=<sdk root> "
    "(see tools/wince-arm.cmake and the README). The desktop x86-64 program is the preset \"windows\".")
endif()
if(NOT KEYVANE_CE_VERSION)
  set(KEYVANE_CE_VERSION 5.0)
endif()
if(NOT KEYVANE_CE_PROCESSOR)
  set(KEYVANE_CE_PROCESSOR ARMV4I)
endif()

# The Windows platform of CMake (WIN32 is set) with the device's processor.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION ${KEYVANE_CE_VERSION})
set(CMAKE_SYSTEM_PROCESSOR ${KEYVANE_CE_PROCESSOR})
set(CMAKE_C_COMPILER ${KEYVANE_CE_TOOLCHAIN_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${KEYVANE_CE_TOOLCHAIN_PREFIX}g++)
set(CMAKE_RC_COMPILER ${KEYVANE_CE_TOOLCHAIN_PREFIX}windres)

# _WIN32_WCE as the SDK headers expect it: 5.0 -> 0x500.
string(REPLACE "." ";" _ce_version_parts ${KEYVANE_CE_VERSION})
list(GET _ce_version_parts 0 _ce_major)
math(EXPR _ce_wce "${_ce_major} * 256" OUTPUT_FORMAT HEXADECIMAL)
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WCE=${_ce_wce} -DUNDER_CE -DARM -D_ARM_ -isystem ${KEYVANE_CE_SDK}/include")
set(CMAKE_CXX_FLAGS_INIT "${CMAKE_C_FLAGS_INIT}")
set(CMAKE_RC_FLAGS_INIT "-D_WIN32_WCE=${_ce_wce} -DUNDER_CE -I${KEYVANE_CE_SDK}/include")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-L${KEYVANE_CE_SDK}/lib")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-L${KEYVANE_CE_SDK}/lib")

set(CMAKE_FIND_ROOT_PATH ${KEYVANE_CE_SDK})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
