# The BigNum tests compare against GMP, linked into the unit test binary only.
if(TARGET kw_tests_crypto)
  target_link_libraries(kw_tests_crypto PRIVATE gmp)
endif()
