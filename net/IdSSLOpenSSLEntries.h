// net/IdSSLOpenSSLEntries.h: the entry points the TLS transport binds from OpenSSL 3, as
// lists X(name, return type, parameters) that the binding (IdSSLOpenSSLHeaders) expands into
// its table and its binder. The lists name OpenSSL's types but include nothing: a user that
// expands them with types must include OpenSSL's headers first.
#pragma once

// X(name, return type, parameters): required entry points of libssl.
#define KW_OPENSSL_SSL_ENTRIES(X)                                                            \
    X(SSL_CTX_set_cipher_list, int, (SSL_CTX*, const char*))                                 \
    X(SSL_CTX_new, SSL_CTX*, (const SSL_METHOD*))                                            \
    X(SSL_CTX_free, void, (SSL_CTX*))                                                        \
    X(SSL_set_fd, int, (SSL*, int))                                                          \
    X(SSL_CTX_use_PrivateKey_file, int, (SSL_CTX*, const char*, int))                        \
    X(SSL_CTX_use_certificate_file, int, (SSL_CTX*, const char*, int))                       \
    X(OPENSSL_init_ssl, int, (uint64_t, const OPENSSL_INIT_SETTINGS*))                       \
    X(SSL_state_string_long, const char*, (const SSL*))                                      \
    X(SSL_get1_peer_certificate, X509*, (const SSL*))                                        \
    X(SSL_CTX_set_verify, void, (SSL_CTX*, int, SSL_verify_cb))                              \
    X(SSL_CTX_set_verify_depth, void, (SSL_CTX*, int))                                       \
    X(SSL_CTX_get_verify_depth, int, (const SSL_CTX*))                                       \
    X(SSL_CTX_set_default_passwd_cb, void, (SSL_CTX*, pem_password_cb*))                     \
    X(SSL_CTX_set_default_passwd_cb_userdata, void, (SSL_CTX*, void*))                       \
    X(SSL_CTX_check_private_key, int, (const SSL_CTX*))                                      \
    X(SSL_new, SSL*, (SSL_CTX*))                                                             \
    X(SSL_free, void, (SSL*))                                                                \
    X(SSL_accept, int, (SSL*))                                                               \
    X(SSL_connect, int, (SSL*))                                                              \
    X(SSL_read, int, (SSL*, void*, int))                                                     \
    X(SSL_peek, int, (SSL*, void*, int))                                                     \
    X(SSL_write, int, (SSL*, const void*, int))                                              \
    X(SSL_get_error, int, (const SSL*, int))                                                 \
    X(TLS_method, const SSL_METHOD*, (void))                                                 \
    X(TLS_server_method, const SSL_METHOD*, (void))                                          \
    X(TLS_client_method, const SSL_METHOD*, (void))                                          \
    X(SSL_shutdown, int, (SSL*))                                                             \
    X(SSL_set_connect_state, void, (SSL*))                                                   \
    X(SSL_set_accept_state, void, (SSL*))                                                    \
    X(SSL_set_shutdown, void, (SSL*, int))                                                   \
    X(SSL_CTX_load_verify_locations, int, (SSL_CTX*, const char*, const char*))              \
    X(SSL_get_session, SSL_SESSION*, (const SSL*))                                           \
    X(SSL_CTX_set_info_callback, void, (SSL_CTX*, void (*)(const SSL*, int, int)))           \
    X(SSL_get_ex_data_X509_STORE_CTX_idx, int, (void))                                       \
    X(SSL_SESSION_get_id, const unsigned char*, (const SSL_SESSION*, unsigned int*))         \
    X(SSL_SESSION_get0_id_context, const unsigned char*, (const SSL_SESSION*, unsigned int*)) \
    X(SSL_CTX_get_ssl_method, const SSL_METHOD*, (const SSL_CTX*))                           \
    X(SSL_CTX_set_options, uint64_t, (SSL_CTX*, uint64_t))                                   \
    X(SSL_set_ex_data, int, (SSL*, int, void*))                                              \
    X(SSL_get_ex_data, void*, (const SSL*, int))                                             \
    X(SSL_load_client_CA_file, STACK_OF(X509_NAME)*, (const char*))                          \
    X(SSL_CTX_set_client_CA_list, void, (SSL_CTX*, STACK_OF(X509_NAME)*))                    \
    X(SSL_CTX_set_default_verify_paths, int, (SSL_CTX*))                                     \
    X(SSL_CTX_set_session_id_context, int, (SSL_CTX*, const unsigned char*, unsigned int))   \
    X(SSL_CIPHER_description, char*, (const SSL_CIPHER*, char*, int))                        \
    X(SSL_get_current_cipher, const SSL_CIPHER*, (const SSL*))                               \
    X(SSL_CIPHER_get_name, const char*, (const SSL_CIPHER*))                                 \
    X(SSL_CIPHER_get_version, const char*, (const SSL_CIPHER*))                              \
    X(SSL_CIPHER_get_bits, int, (const SSL_CIPHER*, int*))                                   \
    X(SSL_pending, int, (const SSL*))                                                        \
    X(SSL_has_pending, int, (const SSL*))                                                    \
    X(SSL_CTX_set_default_read_buffer_len, void, (SSL_CTX*, size_t))                         \
    X(SSL_set1_host, int, (SSL*, const char*))                                               \
    X(SSL_get0_param, X509_VERIFY_PARAM*, (SSL*))                                            \
    X(SSL_ctrl, long, (SSL*, int, long, void*))                                              \
    X(SSL_CTX_ctrl, long, (SSL_CTX*, int, long, void*))                                      \
    X(SSL_get_verify_result, long, (const SSL*))                                             \
    X(SSL_set_bio, void, (SSL*, BIO*, BIO*))                                                 \
    X(SSL_version, int, (const SSL*))

// Required entry points of libcrypto.
#define KW_OPENSSL_CRYPTO_ENTRIES(X)                                                        \
    X(X509_NAME_oneline, char*, (const X509_NAME*, char*, int))                             \
    X(X509_set_issuer_name, int, (X509*, const X509_NAME*))                                 \
    X(X509_get_issuer_name, X509_NAME*, (const X509*))                                      \
    X(X509_set_subject_name, int, (X509*, const X509_NAME*))                                \
    X(X509_get_subject_name, X509_NAME*, (const X509*))                                     \
    X(X509_get0_notBefore, const ASN1_TIME*, (const X509*))                                 \
    X(X509_get0_notAfter, const ASN1_TIME*, (const X509*))                                  \
    X(X509_free, void, (X509*))                                                             \
    X(X509_STORE_CTX_get_ex_data, void*, (const X509_STORE_CTX*, int))                      \
    X(X509_STORE_CTX_get_error, int, (const X509_STORE_CTX*))                               \
    X(X509_STORE_CTX_set_error, void, (X509_STORE_CTX*, int))                               \
    X(X509_STORE_CTX_get_error_depth, int, (const X509_STORE_CTX*))                         \
    X(X509_STORE_CTX_get_current_cert, X509*, (const X509_STORE_CTX*))                      \
    X(X509_verify_cert_error_string, const char*, (long))                                   \
    X(X509_VERIFY_PARAM_set1_ip_asc, int, (X509_VERIFY_PARAM*, const char*))                \
    X(DES_set_odd_parity, void, (DES_cblock*))                                              \
    X(DES_set_key, int, (const_DES_cblock*, DES_key_schedule*))                             \
    X(DES_ecb_encrypt, void, (const_DES_cblock*, DES_cblock*, DES_key_schedule*, int))      \
    X(ERR_get_error, unsigned long, (void))                                                 \
    X(ERR_peek_error, unsigned long, (void))                                                \
    X(ERR_clear_error, void, (void))                                                        \
    X(ERR_error_string, char*, (unsigned long, char*))                                      \
    X(ERR_error_string_n, void, (unsigned long, char*, size_t))                             \
    X(ERR_lib_error_string, const char*, (unsigned long))                                   \
    X(ERR_func_error_string, const char*, (unsigned long))                                  \
    X(ERR_reason_error_string, const char*, (unsigned long))                                \
    X(ERR_load_ERR_strings, int, (void))                                                    \
    X(ERR_load_CRYPTO_strings, int, (void))                                                 \
    X(BIO_get_new_index, int, (void))                                                       \
    X(BIO_meth_new, BIO_METHOD*, (int, const char*))                                        \
    X(BIO_meth_free, void, (BIO_METHOD*))                                                   \
    X(BIO_meth_set_write, int, (BIO_METHOD*, int (*)(BIO*, const char*, int)))              \
    X(BIO_meth_set_read, int, (BIO_METHOD*, int (*)(BIO*, char*, int)))                     \
    X(BIO_meth_set_ctrl, int, (BIO_METHOD*, long (*)(BIO*, int, long, void*)))              \
    X(BIO_meth_set_create, int, (BIO_METHOD*, int (*)(BIO*)))                               \
    X(BIO_meth_set_destroy, int, (BIO_METHOD*, int (*)(BIO*)))                              \
    X(BIO_new, BIO*, (const BIO_METHOD*))                                                   \
    X(BIO_free, int, (BIO*))                                                                \
    X(BIO_set_data, void, (BIO*, void*))                                                    \
    X(BIO_get_data, void*, (BIO*))                                                          \
    X(BIO_set_init, void, (BIO*, int))                                                      \
    X(BIO_set_flags, void, (BIO*, int))                                                     \
    X(BIO_clear_flags, void, (BIO*, int))

// Entry points that may be missing: the table then holds nullptr for them.
#define KW_OPENSSL_CRYPTO_OPTIONAL(X)                                                       \
    X(X509_NAME_hash_ex, unsigned long, (const X509_NAME*, OSSL_LIB_CTX*, const char*, int*)) \
    X(X509_digest, int, (const X509*, const EVP_MD*, unsigned char*, unsigned int*))        \
    X(EVP_md5, const EVP_MD*, (void))
