# The PKCS#8 benchmark times libcrypto's PKCS8_decrypt in the same run.
find_package(OpenSSL REQUIRED)
target_link_libraries(bench_crypto_pkcs8 PRIVATE OpenSSL::Crypto)
