# clearway end to end: its import table, and under Wine its two pages, the
# agent it closes and the uninstallers it runs one after the other.
# Included by tests/wine/CMakeLists.txt, after its template prefix fixture.

# Stands in for both uninstallers, and watches the wizard's window.
add_executable(uninstaller_stub WIN32 ${CMAKE_CURRENT_LIST_DIR}/uninstaller_stub.c)
set_target_properties(uninstaller_stub PROPERTIES C_STANDARD 99)

# As shipped, too: small, with its manifest, which asks to run elevated.
add_test(NAME wine.imports.clearway
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/check_imports.py
          ${CMAKE_OBJDUMP} $<TARGET_FILE:clearway> --shipped requireAdministrator)
set_tests_properties(wine.imports.clearway PROPERTIES LABELS wine)

# On the build that runs the whole tier (cmake/wine_tier.cmake).
if(WINE_FULL_TIER)
  set(CLEARWAY_SCENARIOS uninstall cancel nothing_installed)
  foreach(scenario IN LISTS CLEARWAY_SCENARIOS)
    add_test(NAME wine.clearway.${scenario}
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_clearway.py
              --cache ${CMAKE_BINARY_DIR}/tests/wine/prefixes
              --work ${CMAKE_BINARY_DIR}/tests/wine/scenarios/clearway
              --program clearway=$<TARGET_FILE:clearway>
              --program tunerpad=$<TARGET_FILE:tunerpad>
              --program uninstaller=$<TARGET_FILE:uninstaller_stub>
              --program tvpost=$<TARGET_FILE:tvpost>
              --program wineprobe=$<TARGET_FILE:wineprobe>
              ${scenario})
    set_tests_properties(wine.clearway.${scenario} PROPERTIES
      LABELS wine FIXTURES_REQUIRED wine_template TIMEOUT 300 ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)
  endforeach()
endif()
