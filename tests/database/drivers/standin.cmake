# The SQL Server and Sybase driver tests load a stand-in for FreeTDS's libraries
# (tests/database/drivers/standin) to see and steer the loading and initialisation steps; the
# tests find it through a compile definition.
add_library(kw_tds_standin SHARED
  ${CMAKE_CURRENT_SOURCE_DIR}/database/drivers/standin/KwTdsStandin.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/database/drivers/standin/KwTdsStandinEntries.cpp)
kw_warnings(kw_tds_standin)
target_include_directories(kw_tds_standin PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(kw_tds_standin PRIVATE -fvisibility=hidden)
foreach(t kw_tests_database_drivers kw_tests_database_drivers_peer)
  if(TARGET ${t})
    add_dependencies(${t} kw_tds_standin)
    target_compile_definitions(${t} PRIVATE KW_TDS_STANDIN="$<TARGET_FILE:kw_tds_standin>")
  endif()
endforeach()
