# The probe DLLs and their scenarios (tests/keys, tests/settings): the Windows build makes the DLL,
# the native build registers each scenario as a Wine test run by tests/keys/run_scenario.sh.
include_guard(GLOBAL)

# pathlight_probe_dll(NAME SOURCE...): NAME.dll in the folder's place of the Windows build, where
# run_scenario.sh looks for it.
function(pathlight_probe_dll name)
  add_library(${name} SHARED ${ARGN})
  target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}/tests/shared")
  target_link_libraries(${name} PRIVATE pathlight_win)
  target_link_options(${name} PRIVATE -static -static-libgcc -static-libstdc++)
  set_target_properties(${name} PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}")
  pathlight_target(${name})
endfunction()

# pathlight_probe_scenario(TEST SCENARIO): the Wine test TEST, the simulated game through SCENARIO.
# Every probe scenario runs the Windows build's own game folder (and reads its Pathlight.log) and
# shares its probe's folder: they take turns, beside the Wine tests that use neither.
function(pathlight_probe_scenario test scenario)
  set(PATHLIGHT_WINDOWS_BUILD "${CMAKE_SOURCE_DIR}/build/windows" CACHE PATH "The Windows build's folder")
  add_test(NAME ${test} COMMAND "${CMAKE_SOURCE_DIR}/tests/keys/run_scenario.sh" "${PATHLIGHT_WINDOWS_BUILD}"
    "${scenario}")
  set_tests_properties(${test} PROPERTIES LABELS wine TIMEOUT 120 RESOURCE_LOCK windows-game)
endfunction()
