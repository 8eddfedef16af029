# The Blowfish, CAST-128, Camellia and SEED tests compare against OpenSSL's libcrypto; Twofish
# and Serpent, which OpenSSL lacks, against libgcrypt. Both are linked into the unit test
# binary; without libgcrypt the Twofish/Serpent differential tests skip (or fail under CI).
find_package(OpenSSL REQUIRED)
find_path(KW_GCRYPT_INCLUDE_DIR gcrypt.h)
find_library(KW_GCRYPT_LIBRARY gcrypt)
if(TARGET kw_tests_crypto)
  target_link_libraries(kw_tests_crypto PRIVATE OpenSSL::Crypto)
  if(KW_GCRYPT_INCLUDE_DIR AND KW_GCRYPT_LIBRARY)
    target_include_directories(kw_tests_crypto PRIVATE ${KW_GCRYPT_INCLUDE_DIR})
    target_link_libraries(kw_tests_crypto PRIVATE ${KW_GCRYPT_LIBRARY})
    target_compile_definitions(kw_tests_crypto PRIVATE KW_HAVE_GCRYPT=1)
  endif()
endif()
