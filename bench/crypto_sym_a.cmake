# The AES and triple-DES benchmark times OpenSSL's EVP ciphers in the same run.
find_package(OpenSSL REQUIRED)
target_link_libraries(bench_crypto_sym_a PRIVATE OpenSSL::Crypto)
