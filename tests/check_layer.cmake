# Checks one layer's include path (INCLUDES, '|'-separated, as the layer's sources are compiled
# with it): its own header OWN is found, and each header of FORBIDDEN ('|'-separated), from the
# layers it must not see, is not. Runs the compiler CXX's preprocessor on one-line sources in
# WORK.
cmake_policy(VERSION 3.20)
string(REPLACE "|" ";" includes "${INCLUDES}")
string(REPLACE "|" ";" forbidden "${FORBIDDEN}")
list(TRANSFORM includes PREPEND "-I")
file(MAKE_DIRECTORY "${WORK}")

# Preprocesses a source including HEADER; sets ok (TRUE when it was found) and the compiler's
# output.
function(preprocess header)
  string(MAKE_C_IDENTIFIER "${header}" name)
  file(WRITE "${WORK}/${name}.cpp" "#include \"${header}\"\n")
  execute_process(COMMAND "${CXX}" -std=c++20 -E ${includes} "${WORK}/${name}.cpp" -o "${WORK}/${name}.i"
    RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_QUIET)
  if(result EQUAL 0)
    set(ok TRUE PARENT_SCOPE)
  else()
    set(ok FALSE PARENT_SCOPE)
  endif()
  set(errors "${errors}" PARENT_SCOPE)
endfunction()

preprocess("${OWN}")
if(NOT ok)
  message(FATAL_ERROR "the layer's own header ${OWN} is not found:\n${errors}")
endif()
set(failures "")
foreach(header IN LISTS forbidden)
  preprocess("${header}")
  if(ok)
    string(APPEND failures "  ${header} is reachable\n")
  elseif(NOT errors MATCHES "No such file|not found")
    string(APPEND failures "  ${header} fails for another reason than not being found:\n${errors}\n")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "the layer sees what it must not:\n${failures}")
endif()
list(LENGTH forbidden count)
message(STATUS "${OWN} found; ${count} headers of other layers not reachable")
