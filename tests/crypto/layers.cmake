# The rooms of crypto/ include only downwards: scripts/check-crypto-layers holds their order and
# names every file that includes a room above its own. Labelled "unit", so make test, the
# sanitizer run and CI all run it.
add_test(NAME crypto_layers COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-crypto-layers ${CMAKE_SOURCE_DIR})
set_tests_properties(crypto_layers PROPERTIES LABELS unit)
