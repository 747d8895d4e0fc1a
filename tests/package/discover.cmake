# Run by CTest when it starts (a TEST_INCLUDE_FILES script, set up in CMakeLists.txt): asks pytest
# for the tests of the package tool and of the mutation runner, and adds one CTest test for each
# TestCase class (or test function at the top of a module) it collects, package.NAME, so that a new
# class runs without a change to CMake. A collection that fails, or finds nothing, is the failing
# test package.collection, with pytest's reasons.
set(pytest /usr/bin/python3 -B -m pytest -p no:cacheprovider --rootdir=${SOURCE})
set(paths tests/package scripts/mutation)
execute_process(COMMAND ${pytest} --collect-only -q ${paths} WORKING_DIRECTORY ${SOURCE}
                OUTPUT_VARIABLE collected ERROR_VARIABLE collected RESULT_VARIABLE result)
string(REGEX MATCHALL "[^\n]+\\.py::[A-Za-z0-9_]+" nodes "${collected}")
list(REMOVE_DUPLICATES nodes)
if(NOT result EQUAL 0 OR NOT nodes)
  add_test(package.collection ${pytest} --collect-only -q ${paths})
  set_tests_properties(package.collection PROPERTIES LABELS package WORKING_DIRECTORY ${SOURCE})
  return()
endif()
foreach(node IN LISTS nodes)
  string(REGEX REPLACE "^.*::" "" name "${node}")
  add_test(package.${name} ${pytest} -vv ${node})
  set_tests_properties(package.${name} PROPERTIES LABELS package WORKING_DIRECTORY ${SOURCE}
                       ENVIRONMENT "${ENVIRONMENT}")
endforeach()
