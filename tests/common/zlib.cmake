# zlib is the reference for the CRC-32 tests.
target_link_libraries(kw_tests_common PRIVATE z)
