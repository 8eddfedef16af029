# The database tests run the generated statements and the engine on a real SQLite database,
# through a small test driver over libsqlite3.
find_library(KW_SQLITE3_LIBRARY sqlite3 REQUIRED)
target_link_libraries(kw_tests_database PRIVATE ${KW_SQLITE3_LIBRARY})
