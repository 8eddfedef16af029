# The SQLBase driver is tested through a stand-in client library of our own
# (tests/database/standin/KwCsbStandin.cpp) that answers the client's calls over SQLite, in two
# variants built from the same source by version scripts:
#   kw_csb_standin    every entry, the version 7 interface included
#   kw_csb6_standin   without sqlcch, sqldch and sqlopc (a version 6 client)
# The tests load it through "SQLBase API LIBRARY" and find both through compile definitions.
find_library(KW_SQLITE3_LIBRARY sqlite3 REQUIRED)
foreach(variant csb csb6)
  set(hidden "")
  if(variant STREQUAL "csb6")
    set(hidden "sqlcch; sqldch; sqlopc;")
  endif()
  set(map ${CMAKE_CURRENT_BINARY_DIR}/kw_${variant}_standin.map)
  file(WRITE ${map} "{\n  global: sql*; KwStandin*; KwCsbStandin*;\n  local: ${hidden} *;\n};\n")
  set(target kw_${variant}_standin)
  add_library(${target} SHARED
    ${CMAKE_CURRENT_SOURCE_DIR}/database/standin/KwSqliteStandin.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/database/standin/KwCsbStandin.cpp)
  kw_warnings(${target})
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE -fvisibility=hidden)
  target_link_options(${target} PRIVATE -Wl,--version-script=${map})
  set_target_properties(${target} PROPERTIES LINK_DEPENDS ${map})
  target_link_libraries(${target} PRIVATE ${KW_SQLITE3_LIBRARY})
  string(TOUPPER ${variant} upper)
  foreach(t kw_tests_database_drivers kw_tests_database_drivers_peer)
    if(TARGET ${t})
      add_dependencies(${t} ${target})
      target_compile_definitions(${t} PRIVATE KW_${upper}_STANDIN="$<TARGET_FILE:${target}>")
    endif()
  endforeach()
endforeach()

# The OLE DB driver is tested through a provider of our own (tests/database/standin/KwOleDb*),
# which the COM-style runtime's data-link object loads like any provider: the tests name its file
# in KW_OLEDB_PROVIDER_<NAME>.
set(map ${CMAKE_CURRENT_BINARY_DIR}/kw_oledb_standin.map)
file(WRITE ${map} "{\n  global: DllGetClassObject; ComAttachServices; KwStandin*; KwOleDbStandin*;\n  local: *;\n};\n")
add_library(kw_oledb_standin SHARED
  ${CMAKE_CURRENT_SOURCE_DIR}/database/standin/KwSqliteStandin.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/database/standin/KwOleDbStandin.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/database/standin/KwOleDbStandinData.cpp)
kw_warnings(kw_oledb_standin)
target_include_directories(kw_oledb_standin PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(kw_oledb_standin PRIVATE -fvisibility=hidden)
target_link_options(kw_oledb_standin PRIVATE -Wl,--version-script=${map})
set_target_properties(kw_oledb_standin PROPERTIES LINK_DEPENDS ${map})
target_link_libraries(kw_oledb_standin PRIVATE ${KW_SQLITE3_LIBRARY})
foreach(t kw_tests_database_drivers kw_tests_database_drivers_peer)
  if(TARGET ${t})
    add_dependencies(${t} kw_oledb_standin)
    target_compile_definitions(${t} PRIVATE KW_OLEDB_STANDIN="$<TARGET_FILE:kw_oledb_standin>")
  endif()
endforeach()
