# bench_fetch_servers times the PostgreSQL and MariaDB clients directly against the SQL
# library's queries over our drivers, on private servers started as the tests start them.
if(TARGET kw_testsupport)
  target_link_libraries(bench_fetch_servers PRIVATE kw_testsupport pq mariadb)
else()
  set_target_properties(bench_fetch_servers PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
