# Runs one end-to-end SQL case: tests/sql/NAME.sql through the host with --trace and -e, in a
# fresh folder made for this run, and compares the output with tests/expected/NAME.out.
# The drive root is WORK/drives; tests/sql/NAME.drive, when it exists, is copied into it.
# The test module is copied to WORK, so cases register it as './hosttest.so'.
# Failure addresses (" (Runtime Addr: $0001A2B4)") depend on the build and are masked.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/drives")
if(EXISTS "${SOURCE}/sql/${NAME}.drive")
  file(COPY "${SOURCE}/sql/${NAME}.drive/" DESTINATION "${WORK}/drives")
endif()
file(COPY "${TEST_MODULE}" DESTINATION "${WORK}")

execute_process(
  COMMAND "${HOST}" --trace -e --drive-root "${WORK}/drives" -i "${SOURCE}/sql/${NAME}.sql"
  WORKING_DIRECTORY "${WORK}"
  OUTPUT_VARIABLE actual
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)

set(hex "[0-9A-F]")
string(REGEX REPLACE " \\(Runtime Addr: \\$${hex}${hex}${hex}${hex}${hex}${hex}${hex}${hex}\\)"
       " (Runtime Addr: $XXXXXXXX)" actual "${actual}")
# Values that differ from run to run for other reasons (round-trip times) are masked by the
# case's own rules in tests/sql/NAME.mask, when it has one: one rule a line, a regular
# expression, " => " and its replacement; lines starting with # are comments.
if(EXISTS "${SOURCE}/sql/${NAME}.mask")
  file(STRINGS "${SOURCE}/sql/${NAME}.mask" rules)
  foreach(rule IN LISTS rules)
    if(rule MATCHES "^#" OR NOT rule MATCHES " => ")
      continue()
    endif()
    string(FIND "${rule}" " => " arrow)
    string(SUBSTRING "${rule}" 0 ${arrow} pattern)
    math(EXPR after "${arrow} + 4")
    string(SUBSTRING "${rule}" ${after} -1 replacement)
    string(REGEX REPLACE "${pattern}" "${replacement}" actual "${actual}")
  endforeach()
endif()
file(WRITE "${WORK}/${NAME}.out" "${actual}")

if(NOT status EQUAL 0 OR NOT errors STREQUAL "")
  message(FATAL_ERROR "dunmarrow ended with status '${status}':\n${errors}")
endif()
file(READ "${SOURCE}/expected/${NAME}.out" expected)
# Lines tagged with the code pages of other runs ("[cp1252] ", "[cp932] ": the Wine runs in a
# server's ANSI code page) are not expected here, where 8-bit text is UTF-8; lines whose tag
# lists utf-8 are.
string(REGEX REPLACE "(^|\n)\\[cp[0-9]+( cp[0-9]+)*\\] [^\n]*" "" expected "\n${expected}")
string(REGEX REPLACE "^\n" "" expected "${expected}")
string(REGEX REPLACE "(^|\n)\\[utf-8( cp[0-9]+)*\\] " "\\1" expected "${expected}")
# Lines that only Wine prints ("[wine] ", its own system texts) are not expected here; lines
# marked "[not wine] " are.
string(REGEX REPLACE "(^|\n)\\[wine\\] [^\n]*" "" expected "\n${expected}")
string(REGEX REPLACE "^\n" "" expected "${expected}")
string(REPLACE "\n[not wine] " "\n" expected "\n${expected}")
string(REGEX REPLACE "^\n" "" expected "${expected}")
if(NOT actual STREQUAL expected)
  execute_process(COMMAND diff -u "${SOURCE}/expected/${NAME}.out" "${WORK}/${NAME}.out")
  message(FATAL_ERROR "the output differs from tests/expected/${NAME}.out (diff above; "
                      "the whole output is ${WORK}/${NAME}.out)")
endif()
