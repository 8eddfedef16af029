# The symmetric-facade benchmark times OpenSSL's EVP ciphers in the same run.
find_package(OpenSSL REQUIRED)
target_link_libraries(bench_crypto_facade PRIVATE OpenSSL::Crypto)
