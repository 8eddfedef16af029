# The certificate benchmark times libcrypto's d2i_X509 and X509_verify_cert in the same run.
find_package(OpenSSL REQUIRED)
target_link_libraries(bench_crypto_pki PRIVATE OpenSSL::Crypto kw_pki)
