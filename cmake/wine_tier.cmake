# Which Windows build runs the end-to-end scenarios under Wine.
#
# Users run the 32-bit programs, so the win32 build runs every scenario
# wherever the kernel runs 32-bit x86 code itself. Where 32-bit Wine runs only
# through an emulator (about fifty times slower), the win64 build of the same
# sources runs them and the 32-bit programs get one smoke scenario. Each
# scenario is written once; the build decides only which of them it lists.
#
# WINE_I386 (native, emulated or none) is set by the test command, which
# decides once per run; left empty, scripts/i386-mode.sh is asked here.
# Sets WINE_FULL_TIER: ON when this build runs every scenario.

set(WINE_I386 "" CACHE STRING
  "How 32-bit x86 code runs here: native, emulated or none (empty: ask scripts/i386-mode.sh)")
if(WINE_I386 STREQUAL "")
  execute_process(COMMAND ${PROJECT_SOURCE_DIR}/scripts/i386-mode.sh
    OUTPUT_VARIABLE wine_i386_answer OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX REPLACE ":.*" "" WINE_I386_MODE "${wine_i386_answer}")
  message(STATUS "32-bit x86 code: ${wine_i386_answer}")
else()
  set(WINE_I386_MODE ${WINE_I386})
endif()
if(NOT WINE_I386_MODE MATCHES "^(native|emulated|none)$")
  message(FATAL_ERROR "WINE_I386 must be native, emulated or none, not '${WINE_I386_MODE}'")
endif()

# The 32-bit build runs the whole tier exactly when 32-bit code is native.
set(wine_tier_native OFF)
if(WINE_I386_MODE STREQUAL "native")
  set(wine_tier_native ON)
endif()
set(wine_tier_32 OFF)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(wine_tier_32 ON)
endif()
if(wine_tier_native STREQUAL wine_tier_32)
  set(WINE_FULL_TIER ON)
else()
  set(WINE_FULL_TIER OFF)
endif()
math(EXPR wine_tier_bits "${CMAKE_SIZEOF_VOID_P} * 8")
if(WINE_FULL_TIER)
  message(STATUS "Wine tier: every end-to-end scenario on this ${wine_tier_bits}-bit build (32-bit x86 ${WINE_I386_MODE})")
else()
  message(STATUS "Wine tier: import checks and one smoke scenario on this ${wine_tier_bits}-bit build (32-bit x86 ${WINE_I386_MODE})")
endif()
