# Installs BUILD into a fresh folder and compares the files there with EXPECTED (a list of paths
# below the prefix); then runs the installed programs with --version, which needs the library
# they find only through their installed run path.
string(REPLACE "|" ";" EXPECTED "${EXPECTED}")
set(prefix ${BUILD}/install-tree-test)
file(REMOVE_RECURSE ${prefix})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix}
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${prefix} ${prefix}/*)
list(SORT found)
list(SORT EXPECTED)
if(NOT found STREQUAL EXPECTED)
  string(REPLACE ";" "\n  " found_text "${found}")
  string(REPLACE ";" "\n  " expected_text "${EXPECTED}")
  message(FATAL_ERROR "installed:\n  ${found_text}\nexpected:\n  ${expected_text}")
endif()
foreach(program kt6200-script kt6200-prog kt62emu)
  execute_process(COMMAND env -u LD_LIBRARY_PATH ${prefix}/${BINDIR}/${program} --version
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT out MATCHES "^${program} [0-9]+\\.[0-9]+\\.[0-9]+\n$")
    message(FATAL_ERROR "${program} --version: status ${status}, output \"${out}\" ${err}")
  endif()
endforeach()
file(REMOVE_RECURSE ${prefix})
