# The module's code (runtime/, procs/, crypto/, net/ below SOURCE) reaches the system only
# through platform/windows.h: it includes no system header but the C++ library's, zlib's and
# the sanitizer's interface, so no POSIX header.
cmake_policy(VERSION 3.20)
set(allowed zlib.h sanitizer/asan_interface.h)
file(GLOB_RECURSE files "${SOURCE}/runtime/*.h" "${SOURCE}/runtime/*.cpp" "${SOURCE}/procs/*.h"
  "${SOURCE}/procs/*.cpp" "${SOURCE}/crypto/*.h" "${SOURCE}/crypto/*.cpp" "${SOURCE}/net/*.h"
  "${SOURCE}/net/*.cpp")
set(failures "")
foreach(file IN LISTS files)
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*<")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[^<]*<([^>]*)>.*" "\\1" header "${line}")
    # The C++ library's headers have names without a dot or a slash (<cstdint>, <string>).
    if(header MATCHES "^[a-z_]+$" OR header IN_LIST allowed)
      continue()
    endif()
    file(RELATIVE_PATH name "${SOURCE}" "${file}")
    string(APPEND failures "  ${name}: <${header}>\n")
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "system headers in the module's code (use platform/windows.h):\n${failures}")
endif()
list(LENGTH files count)
message(STATUS "${count} files of the module include no system header of their own")
