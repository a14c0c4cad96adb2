# The Windows build: Dunmarrow.dll against the real Windows headers, importing the 13 srv_*
# functions from opends60.dll through an import library made from our own .def file.
set(ODS_IMPORT_LIB ${CMAKE_BINARY_DIR}/libopends60_import.a)
add_custom_command(OUTPUT ${ODS_IMPORT_LIB}
  COMMAND ${DUNMARROW_DLLTOOL} -d ${CMAKE_SOURCE_DIR}/ods/opends60.def -l ${ODS_IMPORT_LIB}
  DEPENDS ${CMAKE_SOURCE_DIR}/ods/opends60.def)
add_custom_target(opends60_import DEPENDS ${ODS_IMPORT_LIB})

add_library(Dunmarrow SHARED ${MODULE_SOURCES} ${MODULE_ALLOCATOR_SOURCE} ${MODULE_DEF}
  ${CMAKE_SOURCE_DIR}/runtime/version.rc)
set_target_properties(Dunmarrow PROPERTIES PREFIX "" OUTPUT_NAME Dunmarrow)
add_dependencies(Dunmarrow opends60_import)
# No lib prefix, no runtime DLLs of the compiler: the server loads nothing but the module.
target_link_options(Dunmarrow PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--kill-at)
# zlib from Debian's libz-mingw-w64-dev, linked in statically.
find_library(ZLIB_STATIC NAMES libz.a REQUIRED)
find_path(ZLIB_INCLUDE NAMES zlib.h REQUIRED)
target_include_directories(Dunmarrow PRIVATE ${ZLIB_INCLUDE})
target_link_libraries(Dunmarrow PRIVATE ${ODS_IMPORT_LIB} ${ZLIB_STATIC} kernel32 advapi32 user32 wsock32
  iphlpapi)
# GCC 12 reports false -Wrestrict warnings inside std::string at -O2 and above (bug 105329).
target_compile_options(Dunmarrow PRIVATE -Wno-restrict)
