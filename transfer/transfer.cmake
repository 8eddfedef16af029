# The web transport to the application server runs over libcurl (the substitute for the
# platform's internet API); its trust anchor of one connection goes into OpenSSL's store.
find_package(CURL REQUIRED)
find_package(OpenSSL REQUIRED)
target_link_libraries(kw_transfer PUBLIC CURL::libcurl OpenSSL::SSL OpenSSL::Crypto)
