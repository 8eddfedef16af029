# bench_fetch times the ODBC driver manager directly against the SQL library's queries.
target_link_libraries(bench_fetch PRIVATE odbc)
