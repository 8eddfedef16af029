# The PKCS#11 module-list tests load a stand-in library that exports C_Finalize and counts its
# calls (tests/crypto/pkcs11); the tests find it through a compile definition.
add_library(kw_pkcs11_stub SHARED ${CMAKE_CURRENT_SOURCE_DIR}/crypto/pkcs11/KwPkcs11Stub.cpp)
kw_warnings(kw_pkcs11_stub)
if(TARGET kw_tests_crypto)
  add_dependencies(kw_tests_crypto kw_pkcs11_stub)
  target_compile_definitions(kw_tests_crypto PRIVATE KW_PKCS11_STUB="$<TARGET_FILE:kw_pkcs11_stub>")
endif()
