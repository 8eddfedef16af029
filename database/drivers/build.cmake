# The drivers take the client libraries' types and layouts from their Debian headers
# (libpq-dev, libmariadb-dev, firebird-dev, freetds-dev) and bind every function by name at run
# time: the headers are on the include path, the libraries are never linked.
find_package(PkgConfig REQUIRED)
pkg_check_modules(KW_LIBPQ REQUIRED libpq)
pkg_check_modules(KW_LIBMARIADB REQUIRED libmariadb)
# The InterBase/Firebird client's ibase.h (firebird-dev has no pkg-config file).
find_path(KW_IBASE_INCLUDE_DIR ibase.h REQUIRED)
target_include_directories(kw_drivers SYSTEM PUBLIC ${KW_LIBPQ_INCLUDE_DIRS} ${KW_LIBMARIADB_INCLUDE_DIRS}
                           ${KW_IBASE_INCLUDE_DIR})
# FreeTDS's headers (sybdb.h, ctpublic.h) live in the system include folder.
if(NOT EXISTS /usr/include/sybdb.h OR NOT EXISTS /usr/include/ctpublic.h)
  message(FATAL_ERROR "FreeTDS headers missing: install freetds-dev (scripts/install-deps)")
endif()
