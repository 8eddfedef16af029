# The cipher tests compare against OpenSSL's libcrypto, linked into the unit test binary.
find_package(OpenSSL REQUIRED)
if(TARGET kw_tests_crypto)
  target_link_libraries(kw_tests_crypto PRIVATE OpenSSL::Crypto)
endif()
