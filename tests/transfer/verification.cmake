# zlib is the reference for the file checksum tests.
if(TARGET kw_tests_transfer)
  target_link_libraries(kw_tests_transfer PRIVATE z)
endif()
