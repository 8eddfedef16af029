target_link_libraries(bench_crc32 PRIVATE z)
