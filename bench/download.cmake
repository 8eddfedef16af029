# bench_download starts the scripted download server of the tests (tests/peers/ddsserver.py).
target_compile_definitions(bench_download PRIVATE KW_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
