# The Windows build: Dunmarrow.dll against the real Windows headers, importing the 13 srv_*
# functions from opends60.dll through an import library made from our own .def file; and for
# the tests under Wine our ODS library as opends60.dll, the host and the test programs.

# Everything lands in one folder, as it is installed: a program finds opends60.dll beside it.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
# No runtime DLLs of the compiler: a server (or Wine) loads nothing but our own files.
add_link_options(-static -static-libgcc -static-libstdc++)
# GCC 12 reports false -Wrestrict warnings inside std::string at -O2 and above (bug 105329).
add_compile_options(-Wno-restrict)

set(ODS_IMPORT_LIB ${CMAKE_BINARY_DIR}/libopends60_import.a)
add_custom_command(OUTPUT ${ODS_IMPORT_LIB}
  COMMAND ${DUNMARROW_DLLTOOL} -d ${CMAKE_SOURCE_DIR}/ods/opends60.def -l ${ODS_IMPORT_LIB}
  DEPENDS ${CMAKE_SOURCE_DIR}/ods/opends60.def)
add_custom_target(opends60_import DEPENDS ${ODS_IMPORT_LIB})

add_library(Dunmarrow SHARED ${MODULE_SOURCES} ${MODULE_ALLOCATOR_SOURCE} ${MODULE_DEF}
  ${CMAKE_SOURCE_DIR}/runtime/version.rc)
set_target_properties(Dunmarrow PROPERTIES PREFIX "" OUTPUT_NAME Dunmarrow)
add_dependencies(Dunmarrow opends60_import)
target_link_options(Dunmarrow PRIVATE -Wl,--kill-at)
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
target_link_options(opends60 PRIVATE -Wl,--export-all-symbols -Wl,--exclude-libs,ALL)

# The Windows functions are the system's own.
add_library(winplatform INTERFACE)
target_link_libraries(winplatform INTERFACE kernel32)

add_subdirectory(tsql)
add_subdirectory(host)
target_sources(dunmarrow PRIVATE ${CMAKE_SOURCE_DIR}/cmake/utf8-manifest.rc)

if(DUNMARROW_TESTS)
  enable_testing()
  add_subdirectory(tests/conformance)
  add_subdirectory(tests/wine)
endif()
