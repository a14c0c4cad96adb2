# The layers of the tree as build targets. Each layer's headers are reached through an include
# root of its own in the build folder: build/layers/<target>/ holds symbolic links to the
# layer's source folders (or single headers), so that a header keeps the name it has in the
# tree ("runtime/failure.h") while only a target that links the layer has the root on its
# include path. An include of a layer the target does not link (runtime/ including "procs/...")
# finds no file and fails to build. Links rather than copies: an edited header is seen at once,
# and ninja's dependency scan follows the links to the sources.

# Gives TARGET (with SCOPE PUBLIC, PRIVATE or INTERFACE) an include root holding the source
# paths that follow, each a folder or a header relative to the source root. The root is made
# anew at each configure, so that a path no longer listed is no longer reachable.
function(dunmarrow_include_root target scope)
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  file(REMOVE_RECURSE ${root})  # removes the links, never what they point to
  foreach(path IN LISTS ARGN)
    get_filename_component(parent ${root}/${path} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${path} ${root}/${path} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# One part of the module (Dunmarrow.so / Dunmarrow.dll): the sources of FOLDER (its *.cpp but
# those named in EXCLUDE) compiled once as an object library, with FOLDER as its include root
# and the layers named in LINKS below it. The module and the tests' static library are both
# made from these objects (DUNMARROW_MODULE_PARTS lists the parts).
function(dunmarrow_module_part name folder)
  cmake_parse_arguments(ARG "" "" "EXCLUDE;LINKS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
  foreach(excluded IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_SOURCE_DIR}/${folder}/${excluded})
  endforeach()
  add_library(${name} OBJECT ${sources})
  dunmarrow_include_root(${name} PUBLIC ${folder})
  target_link_libraries(${name} PUBLIC ${ARG_LINKS})
  if(NOT WIN32)
    # Only the export table leaves the shared object.
    target_compile_options(${name} PRIVATE -fvisibility=hidden -fvisibility-inlines-hidden)
  endif()
  set_property(GLOBAL APPEND PROPERTY DUNMARROW_MODULE_PARTS ${name})
endfunction()
