# The public-key benchmark times OpenSSL's EVP_PKEY in the same run.
find_package(OpenSSL REQUIRED)
target_link_libraries(bench_crypto_pk PRIVATE OpenSSL::Crypto)
