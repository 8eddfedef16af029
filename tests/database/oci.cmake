# The Oracle driver is tested through a stand-in client library of our own
# (tests/database/standin/KwOci*), which answers the OCI 8 and OCI 7 calls over SQLite. It is
# built in several variants, each a version script over the same sources, so that the
# driver's choices run against real libraries:
#   kw_oci_standin           every OCI 8 and OCI 7 name
#   kw_oci_noenvcreate       without OCIEnvCreate (the client is initialised first)
#   kw_oci_noxa              without the XA names xaoEnv and xaoSvcCtx
#   kw_oci_nopiece           without the five OCI 7 piecewise names
#   kw_oci_oci8only          without any OCI 7 name
# The tests give the library the client's own names (libclntsh.so.19.1, libclntsh.so.9.0, ...)
# as links in a folder of their own, reached through ORACLE_HOME or "Oracle API LIBRARY".
find_library(KW_SQLITE3_LIBRARY sqlite3 REQUIRED)
set(KW_OCI7_NAMES obindps obreak ocan oclose ocof ocom ocon odefinps odessp odescr oerhms oermsg oexec
    oexfet oexn ofen ofetch oflng ogetpi oopt opinit olog ologof oopen oparse orol osetpi onbset onbtst
    onbclr obndra obndrn obndrv odefin)
set(KW_OCI7_PIECEWISE obindps odefinps ogetpi opinit osetpi)
set(KW_OCI_STANDIN_SOURCES
  ${CMAKE_CURRENT_SOURCE_DIR}/database/standin/KwSqliteStandin.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/database/standin/KwOciStandinCore.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/database/standin/KwOci8Standin.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/database/standin/KwOci7Standin.cpp)

foreach(variant standin noenvcreate noxa nopiece oci8only)
  set(hidden "")
  set(oci7 ${KW_OCI7_NAMES})
  if(variant STREQUAL "noenvcreate")
    set(hidden "OCIEnvCreate;")
  elseif(variant STREQUAL "noxa")
    set(hidden "xaoEnv; xaoSvcCtx;")
  elseif(variant STREQUAL "nopiece")
    list(REMOVE_ITEM oci7 ${KW_OCI7_PIECEWISE})
    foreach(n ${KW_OCI7_PIECEWISE})
      string(APPEND hidden "${n}; ")
    endforeach()
  elseif(variant STREQUAL "oci8only")
    set(oci7 "")
    foreach(n ${KW_OCI7_NAMES})
      string(APPEND hidden "${n}; ")
    endforeach()
  endif()
  list(JOIN oci7 "; " oci7_list)
  if(oci7_list)
    string(APPEND oci7_list ";")
  endif()
  set(map ${CMAKE_CURRENT_BINARY_DIR}/kw_oci_${variant}.map)
  file(WRITE ${map} "{\n  global: OCI*; xao*; KwStandin*; KwOciStandin*; ${oci7_list}\n  local: ${hidden} *;\n};\n")
  set(target kw_oci_${variant})
  if(variant STREQUAL "standin")
    set(target kw_oci_standin)
  endif()
  add_library(${target} SHARED ${KW_OCI_STANDIN_SOURCES})
  kw_warnings(${target})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE -fvisibility=hidden)
  target_link_options(${target} PRIVATE -Wl,--version-script=${map})
  set_target_properties(${target} PROPERTIES LINK_DEPENDS ${map})
  target_link_libraries(${target} PRIVATE ${KW_SQLITE3_LIBRARY})
  string(TOUPPER ${variant} upper)
  foreach(t kw_tests_database kw_tests_database_peer kw_tests_launcher_peer)
    if(TARGET ${t})
      add_dependencies(${t} ${target})
      target_compile_definitions(${t} PRIVATE KW_OCI_${upper}="$<TARGET_FILE:${target}>")
    endif()
  endforeach()
endforeach()
