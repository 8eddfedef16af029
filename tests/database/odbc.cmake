# The DB2 and Informix drivers are tested through a stand-in for their vendors' call-level
# libraries (tests/database/standin), which exports the ODBC functions and forwards them to
# unixODBC. kw_db2_standin exports all of them; kw_odbc2_standin only the ODBC 2 set, so the
# drivers' fall-backs to the older calls run too. The tests find both through compile
# definitions.
foreach(variant db2 odbc2)
  if(variant STREQUAL "db2")
    set(map ${CMAKE_CURRENT_SOURCE_DIR}/database/standin/cli.map)
  else()
    set(map ${CMAKE_CURRENT_SOURCE_DIR}/database/standin/odbc2.map)
  endif()
  add_library(kw_${variant}_standin SHARED ${CMAKE_CURRENT_SOURCE_DIR}/database/standin/KwCliStandin.cpp)
  kw_warnings(kw_${variant}_standin)
  target_include_directories(kw_${variant}_standin PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(kw_${variant}_standin PRIVATE -fvisibility=hidden)
  target_link_options(kw_${variant}_standin PRIVATE -Wl,--version-script=${map})
  set_target_properties(kw_${variant}_standin PROPERTIES LINK_DEPENDS ${map})
  target_link_libraries(kw_${variant}_standin PRIVATE ${CMAKE_DL_LIBS})
  foreach(t kw_tests_database kw_tests_database_peer)
    if(TARGET ${t})
      add_dependencies(${t} kw_${variant}_standin)
      target_compile_definitions(${t} PRIVATE
        KW_$<UPPER_CASE:${variant}>_STANDIN="$<TARGET_FILE:kw_${variant}_standin>")
    endif()
  endforeach()
endforeach()
