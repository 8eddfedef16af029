# tls: the compression facade (SBZlib) and the HTTP client's body decoding call zlib, the
# system's one compression dependency.
find_package(ZLIB REQUIRED)
target_link_libraries(kw_tls PUBLIC ZLIB::ZLIB)
