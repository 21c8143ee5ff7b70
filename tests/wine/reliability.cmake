# The agent's reliability under Wine: a box that fails a tenth of its
# property calls for five minutes while keys are pressed and held, the
# notification area restarted, and sleep and resume. One test per scenario
# of test_reliability.py; label "wine", the shared template prefix (fixture
# wine_template), on the build that runs the whole tier
# (cmake/wine_tier.cmake); the helper is built by both. Included from this folder's CMakeLists.txt, after agent.cmake (its
# agent_ui target) and the folder's WINE_TEST_PREFIXES and WINE_TEST_SCENARIOS.

# Does what the system and its shell do to every program: power events, the
# notification area losing its icons, TaskbarCreated.
add_executable(system_events system_events.c)
set_target_properties(system_events PROPERTIES C_STANDARD 99)
target_link_libraries(system_events PRIVATE user32 shell32)

if(WINE_FULL_TIER)
  set(RELIABILITY_TEST
    ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_reliability.py
    --cache ${WINE_TEST_PREFIXES}
    --work ${WINE_TEST_SCENARIOS}/reliability
    --program tunerpad=$<TARGET_FILE:tunerpad>
    --program wineprobe=$<TARGET_FILE:wineprobe>
    --program agent_ui=$<TARGET_FILE:agent_ui>
    --program system_events=$<TARGET_FILE:system_events>
    --program boxsim=$<TARGET_FILE:boxsim>
    --program tvstub=$<TARGET_FILE:tvstub>
    --program tvpost=$<TARGET_FILE:tvpost>)
  # The five-minute run needs its five minutes and the start and checks around them.
  set(RELIABILITY_SCENARIOS random_failures:600 tray_restart:300 sleep_resume:300)
  foreach(entry IN LISTS RELIABILITY_SCENARIOS)
    string(REPLACE ":" ";" parts ${entry})
    list(GET parts 0 scenario)
    list(GET parts 1 timeout)
    add_test(NAME wine.reliability.${scenario} COMMAND ${RELIABILITY_TEST} ${scenario})
    set_tests_properties(wine.reliability.${scenario} PROPERTIES
      LABELS wine FIXTURES_REQUIRED wine_template TIMEOUT ${timeout}
      ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)
  endforeach()
endif()

# How those scenarios read the box's log and account for the keys, on logs
# written by hand: no Wine needed.
add_test(NAME wine.reliability.accounting
  COMMAND ${Python3_EXECUTABLE} -m unittest -v test_boxtraffic test_delivery
  WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
set_tests_properties(wine.reliability.accounting PROPERTIES LABELS wine ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)
