# The Windows build: Dunmarrow.dll against the real Windows headers, importing the 13 srv_*
# functions from opends60.dll through an import library made from our own .def file; and for
# the tests under Wine our ODS library as opends60.dll, the host and the test programs.

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
function(dunmarrow_shared_runtime target)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    get_target_property(options ${target} LINK_OPTIONS)
    list(REMOVE_ITEM options -static -static-libgcc -static-libstdc++)
    set_property(TARGET ${target} PROPERTY LINK_OPTIONS ${options} -shared-libgcc)
    add_dependencies(${target} compiler_runtime_dlls)
  endif()
endfunction()

set(ODS_IMPORT_LIB ${CMAKE_BINARY_DIR}/libopends60_import.a)
add_custom_command(OUTPUT ${ODS_IMPORT_LIB}
  COMMAND ${DUNMARROW_DLLTOOL} -d ${CMAKE_SOURCE_DIR}/ods/opends60.def -l ${ODS_IMPORT_LIB}
  DEPENDS ${CMAKE_SOURCE_DIR}/ods/opends60.def)
add_custom_target(opends60_import DEPENDS ${ODS_IMPORT_LIB})

add_library(Dunmarrow SHARED ${MODULE_SOURCES} ${MODULE_ALLOCATOR_SOURCE} ${MODULE_DEF}
  ${GENERATED_DIR}/version.rc)
set_target_properties(Dunmarrow PROPERTIES PREFIX "" OUTPUT_NAME Dunmarrow)
add_dependencies(Dunmarrow opends60_import)
target_link_options(Dunmarrow PRIVATE -Wl,--kill-at)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  # Section names of eight characters at most in the image's own headers, so that the module
  # finds its .eh_frame at run time (".eh_fram"; runtime/unwind_tables.cpp). Longer names
  # would live in the file's string table, which is not loaded.
  target_link_options(Dunmarrow PRIVATE -Wl,--disable-long-section-names)
endif()
# zlib from Debian's libz-mingw-w64-dev, linked in statically.
find_library(ZLIB_STATIC NAMES libz.a REQUIRED)
find_path(ZLIB_INCLUDE NAMES zlib.h REQUIRED)
target_include_directories(Dunmarrow PRIVATE ${ZLIB_INCLUDE})
target_link_libraries(Dunmarrow PRIVATE ${ODS_IMPORT_LIB} ${ZLIB_STATIC} kernel32 advapi32 user32
  wsock32 iphlpapi)

# Our ODS library in place of the server's: the 13 srv_* calls a module imports, and the
# Session interface a host drives them with.
add_library(opends60 SHARED ${ODS_SOURCES} ${ODS_HOST_SOURCES})
set_target_properties(opends60 PROPERTIES PREFIX "" OUTPUT_NAME opends60)
target_compile_definitions(opends60 PRIVATE ODS_BUILDING_LIBRARY)
dunmarrow_shared_runtime(opends60)
target_link_options(opends60 PRIVATE -Wl,--export-all-symbols -Wl,--exclude-libs,ALL)

# The Windows functions are the system's own.
add_library(winplatform INTERFACE)
target_link_libraries(winplatform INTERFACE kernel32)

add_subdirectory(tsql)
if(EXISTS ${CMAKE_SOURCE_DIR}/host/CMakeLists.txt)
  add_subdirectory(host)
  # dunmarrow-acp.exe: the same host without the UTF-8 manifest, so that its ANSI code page is
  # the system's (under Wine the one of the Unix locale), as in a server's process.
  get_target_property(host_dir dunmarrow SOURCE_DIR)
  get_target_property(host_sources dunmarrow SOURCES)
  list(TRANSFORM host_sources PREPEND ${host_dir}/ REGEX "^[^/]")
  add_executable(dunmarrow_acp ${host_sources})
  set_target_properties(dunmarrow_acp PROPERTIES OUTPUT_NAME dunmarrow-acp)
  foreach(property IN ITEMS LINK_LIBRARIES COMPILE_DEFINITIONS INCLUDE_DIRECTORIES)
    get_target_property(value dunmarrow ${property})
    if(value)
      set_property(TARGET dunmarrow_acp PROPERTY ${property} ${value})
    endif()
  endforeach()
  add_dependencies(dunmarrow_acp Dunmarrow)
  dunmarrow_shared_runtime(dunmarrow)
  dunmarrow_shared_runtime(dunmarrow_acp)
  target_sources(dunmarrow PRIVATE ${CMAKE_SOURCE_DIR}/cmake/utf8-manifest.rc)
endif()

if(DUNMARROW_TESTS)
  enable_testing()
  add_subdirectory(tests/conformance)
  add_subdirectory(tests/wine)
endif()
