# Included by CTest when it starts (tests/CMakeLists.txt sets build, bench, arch, scenarios and environment):
# brings the bench up, asks Scenarios.exe for its rows and adds one test `system.<row>` for each.
execute_process(COMMAND ${bench}/bench up ${build} ${arch} OUTPUT_VARIABLE up ERROR_VARIABLE up RESULT_VARIABLE up_status)
if(up_status EQUAL 0)
  execute_process(COMMAND ${bench}/wine-exec ${build} ${scenarios} --list OUTPUT_VARIABLE rows RESULT_VARIABLE status)
endif()
if(NOT up_status EQUAL 0 OR NOT status EQUAL 0 OR rows STREQUAL "")
  # A test that fails and says why, instead of no scenario tests at all.
  string(REPLACE "'" "" up "${up}")
  add_test(system.rows sh -c "echo 'no scenario rows: bench up said: ${up}' >&2; exit 1")
  return()
endif()
string(REGEX MATCHALL "[a-z0-9-]+" rows "${rows}")
foreach(row IN LISTS rows)
  add_test(system.${row} ${bench}/wine-exec ${build} ${scenarios} ${row})
  set_tests_properties(system.${row} PROPERTIES FIXTURES_REQUIRED bench RESOURCE_LOCK desktop TIMEOUT 180 SKIP_RETURN_CODE 77
                       ENVIRONMENT "${environment}")
endforeach()
