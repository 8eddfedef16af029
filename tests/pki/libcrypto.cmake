# The certificate tests compare with OpenSSL's libcrypto reading the same bytes, linked into
# both test binaries of the folder.
find_package(OpenSSL REQUIRED)
foreach(t kw_tests_pki kw_tests_pki_peer)
  if(TARGET ${t})
    target_link_libraries(${t} PRIVATE OpenSSL::Crypto)
  endif()
endforeach()
