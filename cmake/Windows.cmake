# What the Windows build (cross-compiled with mingw-w64) sets for all of its targets, included
# by the top-level CMakeLists.txt before any target is made. The targets themselves are
# described with the Linux ones, each folder saying where Windows differs.

# Everything lands in one folder, as it is installed: a program finds opends60.dll beside it.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
# No runtime DLLs of the compiler in Dunmarrow.dll: a server loads nothing but it and its own
# opends60.dll.
add_link_options(-static -static-libgcc -static-libstdc++)
# Reproducible files: no link time in the PE header, no build folder in the code.
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
# GCC 12 reports false -Wrestrict warnings inside std::string at -O2 and above (bug 105329).
add_compile_options(-Wno-restrict)

# On 32-bit Windows GCC unwinds C++ exceptions with a DWARF unwinder linked into each module,
# and an exception crosses from one module into another only when both use the same one. The
# host, the test modules it loads and our opends60.dll therefore share GCC's runtime DLLs,
# copied beside them, so that a procedure that throws fails its statement, not the host.
# Dunmarrow.dll keeps the runtime linked in and registers its own unwind tables with its own
# unwinder (runtime/unwind_tables.cpp). 64-bit Windows unwinds through the system's tables.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  set(runtime_dlls "")
  foreach(dll IN ITEMS libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "${CMAKE_CXX_COMPILER} has no ${dll}")
    endif()
    list(APPEND runtime_dlls ${path})
  endforeach()
  add_custom_target(compiler_runtime_dlls
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${runtime_dlls} ${CMAKE_BINARY_DIR})
endif()
# Makes TARGET (a program, our opends60.dll or a test module) share GCC's runtime DLLs on x86.
function(dunmarrow_shared_runtime target)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    get_target_property(options ${target} LINK_OPTIONS)
    list(REMOVE_ITEM options -static -static-libgcc -static-libstdc++)
    set_property(TARGET ${target} PROPERTY LINK_OPTIONS ${options} -shared-libgcc)
    add_dependencies(${target} compiler_runtime_dlls)
  endif()
endfunction()

# zlib from Debian's libz-mingw-w64-dev, linked in statically, under the name FindZLIB gives it
# on Linux.
find_library(ZLIB_STATIC NAMES libz.a REQUIRED)
find_path(ZLIB_INCLUDE NAMES zlib.h REQUIRED)
add_library(ZLIB::ZLIB STATIC IMPORTED)
set_target_properties(ZLIB::ZLIB PROPERTIES IMPORTED_LOCATION ${ZLIB_STATIC}
  INTERFACE_INCLUDE_DIRECTORIES ${ZLIB_INCLUDE})
