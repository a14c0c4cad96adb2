# Writes a linker version script that exports exactly the names of a .def file.
# Usage: cmake -DDEF=... -DOUT=... -P VersionScript.cmake
file(STRINGS "${DEF}" lines)
set(names "")
foreach(line IN LISTS lines)
  string(STRIP "${line}" name)
  if(name STREQUAL "" OR name MATCHES "^(LIBRARY|EXPORTS)")
    continue()
  endif()
  string(APPEND names "    ${name};\n")
endforeach()
file(WRITE "${OUT}" "{\n  global:\n${names}  local:\n    *;\n};\n")
