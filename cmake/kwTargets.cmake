# Helpers that give every folder of the tree the same shape: one static library per folder,
# its sources found by glob (so a new unit needs no edit here), our warnings on our code only.

set(KW_LIBRARY_DIRS rtl platform crypto pki tls net database database/drivers common transfer launcher)

function(kw_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# kw_folder_files(<out-var> <folder> <patterns...>): the files of a folder and its sub-folders
# that match the patterns, less those that belong to a nested library folder (database/drivers
# inside database).
function(kw_folder_files out dir)
  set(globs)
  foreach(p ${ARGN})
    list(APPEND globs ${CMAKE_SOURCE_DIR}/${dir}/${p})
  endforeach()
  file(GLOB_RECURSE files CONFIGURE_DEPENDS ${globs})
  foreach(other ${KW_LIBRARY_DIRS})
    if(NOT other STREQUAL dir AND other MATCHES "^${dir}/")
      list(FILTER files EXCLUDE REGEX "^${CMAKE_SOURCE_DIR}/${other}/")
    endif()
  endforeach()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

# kw_sources(<out-var> <folder>): the .cpp and .c files of a folder and its sub-folders.
function(kw_sources out dir)
  kw_folder_files(srcs ${dir} *.cpp *.c)
  set(${out} ${srcs} PARENT_SCOPE)
endfunction()

# kw_library(<target> <folder> <links...>)
function(kw_library target dir)
  kw_sources(srcs ${dir})
  if(NOT srcs)
    # A folder whose issue has not arrived yet still gives a target, so the link graph holds.
    set(stub ${CMAKE_BINARY_DIR}/empty/${target}.cpp)
    file(WRITE ${stub} "// ${target} has no units yet.\n")
    set(srcs ${stub})
  endif()
  add_library(${target} STATIC ${srcs})
  kw_warnings(${target})
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/generated)
  if(ARGN)
    target_link_libraries(${target} PUBLIC ${ARGN})
  endif()
endfunction()
