# Two stand-ins for the socket transport's cipher library, each named libssocketclient.so in a
# folder of its own (never beside a test program: the process-wide cipher loads from there).
foreach(variant whole onlycypher)
  add_library(kw_test_cipher_${variant} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/transfer/cipher/TestCipher.cpp)
  kw_warnings(kw_test_cipher_${variant})
  set_target_properties(kw_test_cipher_${variant} PROPERTIES
    OUTPUT_NAME ssocketclient PREFIX lib SUFFIX .so
    LIBRARY_OUTPUT_DIRECTORY ${KW_TEST_PROGS_DIR}/cipher-${variant})
  foreach(t kw_tests_transfer kw_tests_transfer_peer)
    if(TARGET ${t})
      add_dependencies(${t} kw_test_cipher_${variant})
    endif()
  endforeach()
endforeach()
target_compile_definitions(kw_test_cipher_onlycypher PRIVATE KW_TEST_CIPHER_ONLY_CYPHER)
