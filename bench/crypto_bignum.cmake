# The BigNum benchmark times GMP beside our code.
target_link_libraries(bench_crypto_bignum PRIVATE gmp)
