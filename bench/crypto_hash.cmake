# The digest benchmark times OpenSSL's EVP digests in the same run.
find_package(OpenSSL REQUIRED)
target_link_libraries(bench_crypto_hash PRIVATE OpenSSL::Crypto)
