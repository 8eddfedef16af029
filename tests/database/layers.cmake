# The rooms of database/ include only the rooms beneath them: scripts/check-database-layers
# holds which room may include which and names every file that strays. Labelled "unit", so
# make test, the sanitizer run and CI all run it.
add_test(NAME database_layers COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-database-layers ${CMAKE_SOURCE_DIR})
set_tests_properties(database_layers PROPERTIES LABELS unit)
