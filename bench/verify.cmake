target_link_libraries(bench_verify PRIVATE z)
