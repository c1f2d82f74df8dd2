# Fails unless the library's dynamic symbol table defines exactly the expected functions.
# Usage: cmake -DLIBRARY=path -DEXPECTED="a;b;c" -P check_exports.cmake
execute_process(COMMAND nm -D --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[0-9a-f]+ T [^\n]+" defined "${symbols}")
set(found "")
foreach(line IN LISTS defined)
  string(REGEX REPLACE "^[0-9a-f]+ T " "" name "${line}")
  list(APPEND found ${name})
endforeach()
list(SORT found)
set(expected ${EXPECTED})
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported: ${found}\nexpected: ${expected}")
endif()
