# Included by CTest when it starts (tests/CMakeLists.txt sets build, bench, arch, programs and environment): brings
# the bench up, asks each program for its rows (`--list`) and adds one test for each: `unit`, `system.<row>`.
execute_process(COMMAND ${bench}/bench up ${build} ${arch} OUTPUT_VARIABLE up ERROR_VARIABLE up RESULT_VARIABLE status)
foreach(program IN LISTS programs)
  if(status EQUAL 0)
    execute_process(COMMAND ${bench}/wine-exec ${build} ${program} --list OUTPUT_VARIABLE rows RESULT_VARIABLE status)
  endif()
  if(NOT status EQUAL 0 OR rows STREQUAL "")
    # A test that fails and says why, instead of no tests at all.
    string(REPLACE "'" "" up "${up}")
    add_test(rows sh -c "echo 'no rows from ${program}: bench up said: ${up}' >&2; exit 1")
    return()
  endif()
  string(REGEX MATCHALL "[a-z0-9-]+" rows "${rows}")
  foreach(row IN LISTS rows)
    set(test system.${row})
    if(row STREQUAL "unit")
      set(test unit)
    endif()
    add_test(${test} ${bench}/wine-exec ${build} ${program} ${row})
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED bench RESOURCE_LOCK desktop TIMEOUT 180
                         SKIP_RETURN_CODE 77 ENVIRONMENT "${environment}")
  endforeach()
endforeach()
