# The scenario table under Wine: the 64-bit tarsk4.exe on real Win32 (Wine
# prefixes of each Windows version), the same rows as the simulated machine.
# Included from the Windows build; only the 64-bit program can run here.
# The worm's files are forged by the native build's machine tool, which
# scripts/test builds before it runs this build's tests.
if(TARSK4_WIN64)
  find_program(TARSK4_SCENARIO_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
  add_test(NAME scenarios_wine
    COMMAND ${TARSK4_SCENARIO_PYTHON} ${CMAKE_SOURCE_DIR}/tests/scenarios/run_scenarios.py
            --backend wine --program $<TARGET_FILE:tarsk4>
            --tool ${CMAKE_SOURCE_DIR}/build/native/tarsk4-machine)
  set_tests_properties(scenarios_wine PROPERTIES TIMEOUT 900)
  # The Wine harness's own checks: versions, registry, held files, restarts.
  add_test(NAME wine_machine
    COMMAND ${TARSK4_SCENARIO_PYTHON} ${CMAKE_SOURCE_DIR}/tests/wine/test_wine_machine.py)
  set_tests_properties(wine_machine PROPERTIES TIMEOUT 600)
endif()
