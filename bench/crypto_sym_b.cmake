# The Blowfish, CAST-128, Camellia and SEED benchmark times OpenSSL's EVP ciphers in the same run.
find_package(OpenSSL REQUIRED)
target_link_libraries(bench_crypto_sym_b PRIVATE OpenSSL::Crypto)
