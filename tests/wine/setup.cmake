# setup.exe end to end under Wine (label "wine"): a silent install, the
# removal through the uninstall wizard, an upgrade. Included by
# tests/wine/CMakeLists.txt, after its template prefix fixture (wine_template).
#
# setup.exe is the custom target "setup" of installer/CMakeLists.txt, built
# into ${CMAKE_BINARY_DIR}/setup.exe, of the build's own word size from one
# script. The build that runs the whole tier (cmake/wine_tier.cmake) runs
# every scenario; the other only checks the program's format.

find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Checks the wizard's boxes and presses its buttons from inside the prefix.
add_executable(setup_wizard ${CMAKE_CURRENT_LIST_DIR}/setup_wizard.c)
set_target_properties(setup_wizard PROPERTIES C_STANDARD 99)
target_link_libraries(setup_wizard PRIVATE user32)

set(SETUP_TEST
  ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_setup.py
  --cache ${CMAKE_BINARY_DIR}/tests/wine/prefixes
  --work ${CMAKE_BINARY_DIR}/tests/wine/scenarios/setup
  --program setup=${CMAKE_BINARY_DIR}/setup.exe
  --program tunerpad=$<TARGET_FILE:tunerpad>
  --program clearway=$<TARGET_FILE:clearway>
  --program wineprobe=$<TARGET_FILE:wineprobe>
  --program setup_wizard=$<TARGET_FILE:setup_wizard>)

if(WINE_FULL_TIER)
  set(SETUP_SCENARIOS install_and_remove upgrade silent_uninstall)
else()
  set(SETUP_SCENARIOS)
endif()
foreach(scenario IN LISTS SETUP_SCENARIOS)
  add_test(NAME wine.setup.${scenario} COMMAND ${SETUP_TEST} ${scenario})
  set_tests_properties(wine.setup.${scenario} PROPERTIES
    LABELS wine FIXTURES_REQUIRED wine_template TIMEOUT 300
    ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)
endforeach()

# The setup program is of the build's own architecture.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(SETUP_FORMAT "file format pei-x86-64")
else()
  set(SETUP_FORMAT "file format pei-i386")
endif()
add_test(NAME wine.setup.format COMMAND ${CMAKE_OBJDUMP} -f ${CMAKE_BINARY_DIR}/setup.exe)
set_tests_properties(wine.setup.format PROPERTIES LABELS wine PASS_REGULAR_EXPRESSION "${SETUP_FORMAT}")
