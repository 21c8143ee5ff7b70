# The agent end to end under Wine: the real tunerpad.exe reading the
# capture-box simulator's remote and driving the stand-in TV applications.
# One test per scenario of test_agent.py (with those of agent_remote.py, which
# it runs too); label "wine", the shared template prefix (fixture
# wine_template), on the build that runs the whole tier
# (cmake/wine_tier.cmake); the helpers are built by both. Included from this folder's CMakeLists.txt, after its
# WINE_TEST_PREFIXES, WINE_TEST_SCENARIOS and the wineprobe target.

# Works the agent's dialogs and reads the pointer from inside the prefix.
add_executable(agent_ui agent_ui.c)
set_target_properties(agent_ui PROPERTIES C_STANDARD 99)
target_link_libraries(agent_ui PRIVATE user32 gdi32 shell32)

if(WINE_FULL_TIER)
  set(AGENT_TEST
    ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_agent.py
    --cache ${WINE_TEST_PREFIXES}
    --work ${WINE_TEST_SCENARIOS}/agent
    --program tunerpad=$<TARGET_FILE:tunerpad>
    --program wineprobe=$<TARGET_FILE:wineprobe>
    --program agent_ui=$<TARGET_FILE:agent_ui>
    --program boxsim=$<TARGET_FILE:boxsim>
    --program tvstub=$<TARGET_FILE:tvstub>
    --program tvpost=$<TARGET_FILE:tvpost>)
  # The last four are agent_remote.py's.
  set(AGENT_SCENARIOS
    tray power_roviver desktop_pointer powervcr_keys command_1106 dialogs unplug_replug shutdown
    tv_keymaps roviver_remote replug_cycles setting_default)
  foreach(scenario IN LISTS AGENT_SCENARIOS)
    add_test(NAME wine.agent.${scenario} COMMAND ${AGENT_TEST} ${scenario})
    set_tests_properties(wine.agent.${scenario} PROPERTIES
      LABELS wine FIXTURES_REQUIRED wine_template TIMEOUT 300
      ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)
  endforeach()

  # How those scenarios read the stand-ins' logs and the box's, without Wine.
  add_test(NAME wine.agent.checks
    COMMAND ${Python3_EXECUTABLE} -m unittest -v test_agent_checks
    WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
  set_tests_properties(wine.agent.checks PROPERTIES LABELS wine ENVIRONMENT PYTHONDONTWRITEBYTECODE=1)
endif()
