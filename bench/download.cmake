# bench_download starts the scripted download server of the tests (tests/peers/ddsserver.py)
# through their fixture.
if(TARGET kw_testsupport)
  target_link_libraries(bench_download PRIVATE kw_testsupport)
else()
  set_target_properties(bench_download PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
