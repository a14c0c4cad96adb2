# The module defines its own allocation functions and keeps them local: it neither imports
# operator new or delete from the C++ runtime nor offers its own to the host.
# Usage: cmake -DNM=... -DMODULE=... -P check_module_allocator.cmake
execute_process(COMMAND ${NM} ${MODULE} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
execute_process(COMMAND ${NM} -D ${MODULE} OUTPUT_VARIABLE dynamic)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${MODULE}")
endif()
foreach(name _Znwm _Znam _ZdlPv _ZdaPv _ZdlPvm _ZnwmRKSt9nothrow_t)
  if(NOT symbols MATCHES "[0-9a-f]+ t ${name}\n")
    message(FATAL_ERROR "${name} is not defined locally in the module")
  endif()
  if(dynamic MATCHES " ${name}(@[^\n]*)?\n")
    message(FATAL_ERROR "${name} is in the module's dynamic symbol table")
  endif()
endforeach()
if(dynamic MATCHES "GLIBCXX")
  message(FATAL_ERROR "the module imports from the shared C++ runtime")
endif()
