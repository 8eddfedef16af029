// crypto/base/SBConstants.h: the algorithm codes of the cryptographic library and the object
// identifiers it carries.
//
// Inside the library every algorithm is named by a small integer code; on the wire by an ASN.1
// object identifier (OID): a byte string with the DER content octets, no tag and no length.
// The code's family is (code and 0x7FFFFF00): 0x7000 symmetric cipher, 0x7100 digest, 0x7200
// password-based scheme, 0x7300 MAC, 0x7400 public-key algorithm; SB_ALG_UNKNOWN (0x7FFF) is the
// answer of every lookup that fails. The certificate code numbers its key and signature
// algorithms separately (SB_CERT_ALG_*). Two algorithms without a registered OID are named by a
// pseudo-OID: a name, "@" and the library's one suffix, the same suffix the provider property
// identifiers use. Everything here is a compile-time constant, shared read-only.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// ---------------------------------------------------------------------------------------------
// Algorithm codes

inline constexpr int32_t SB_ALG_UNKNOWN = 0x7FFF;
inline constexpr int32_t SB_ALG_MGF1 = 0x201;

// Symmetric ciphers
inline constexpr int32_t SB_ALG_RC4 = 0x7001;
inline constexpr int32_t SB_ALG_DES = 0x7002;
inline constexpr int32_t SB_ALG_3DES = 0x7003;
inline constexpr int32_t SB_ALG_RC2 = 0x7004;
inline constexpr int32_t SB_ALG_AES128 = 0x7005;
inline constexpr int32_t SB_ALG_AES192 = 0x7006;
inline constexpr int32_t SB_ALG_AES256 = 0x7007;
inline constexpr int32_t SB_ALG_IDENTITY = 0x700A;  // no encryption
inline constexpr int32_t SB_ALG_BLOWFISH = 0x7010;
inline constexpr int32_t SB_ALG_TWOFISH = 0x7011;   // any key size
inline constexpr int32_t SB_ALG_CAMELLIA = 0x7012;  // any key size
inline constexpr int32_t SB_ALG_CAST128 = 0x7013;
inline constexpr int32_t SB_ALG_IDEA = 0x7014;
inline constexpr int32_t SB_ALG_SERPENT = 0x7015;  // any key size
inline constexpr int32_t SB_ALG_TWOFISH128 = 0x7016;
inline constexpr int32_t SB_ALG_TWOFISH192 = 0x7017;
inline constexpr int32_t SB_ALG_TWOFISH256 = 0x7018;
inline constexpr int32_t SB_ALG_CAMELLIA128 = 0x7019;
inline constexpr int32_t SB_ALG_CAMELLIA192 = 0x701A;
inline constexpr int32_t SB_ALG_CAMELLIA256 = 0x701B;
inline constexpr int32_t SB_ALG_SERPENT128 = 0x701C;
inline constexpr int32_t SB_ALG_SERPENT192 = 0x701D;
inline constexpr int32_t SB_ALG_SERPENT256 = 0x701E;
inline constexpr int32_t SB_ALG_SEED = 0x7020;
inline constexpr int32_t SB_ALG_RABBIT = 0x7021;
inline constexpr int32_t SB_ALG_GENERIC_SYMMETRIC = 0x7022;

// Digests
inline constexpr int32_t SB_ALG_SHA1 = 0x7101;
inline constexpr int32_t SB_ALG_MD5 = 0x7102;
inline constexpr int32_t SB_ALG_MD2 = 0x7103;
inline constexpr int32_t SB_ALG_SHA256 = 0x7104;
inline constexpr int32_t SB_ALG_SHA384 = 0x7105;
inline constexpr int32_t SB_ALG_SHA512 = 0x7106;
inline constexpr int32_t SB_ALG_SHA224 = 0x7107;
inline constexpr int32_t SB_ALG_MD4 = 0x7108;
inline constexpr int32_t SB_ALG_RIPEMD160 = 0x7109;
inline constexpr int32_t SB_ALG_CRC32 = 0x710A;     // a 32-bit digest
inline constexpr int32_t SB_ALG_SSL_HASH = 0x710B;  // TLS 1.0 MD5 + SHA-1 signature hash

// Password-based encryption and key derivation
inline constexpr int32_t SB_ALG_PKCS12_SHA1_RC4_128 = 0x7201;
inline constexpr int32_t SB_ALG_PKCS12_SHA1_RC4_40 = 0x7202;
inline constexpr int32_t SB_ALG_PKCS12_SHA1_3DES = 0x7203;
inline constexpr int32_t SB_ALG_PKCS12_SHA1_RC2_128 = 0x7204;
inline constexpr int32_t SB_ALG_PKCS12_SHA1_RC2_40 = 0x7205;
inline constexpr int32_t SB_ALG_PBE_MD2_DES = 0x7221;
inline constexpr int32_t SB_ALG_PBE_MD2_RC2 = 0x7222;
inline constexpr int32_t SB_ALG_PBE_MD5_DES = 0x7223;
inline constexpr int32_t SB_ALG_PBE_MD5_RC2 = 0x7224;
inline constexpr int32_t SB_ALG_PBE_SHA1_DES = 0x7225;
inline constexpr int32_t SB_ALG_PBE_SHA1_RC2 = 0x7226;
inline constexpr int32_t SB_ALG_PBES1 = 0x7241;
inline constexpr int32_t SB_ALG_PBES2 = 0x7242;
inline constexpr int32_t SB_ALG_PBKDF1 = 0x7251;
inline constexpr int32_t SB_ALG_PBKDF2 = 0x7252;

// Message authentication codes
inline constexpr int32_t SB_ALG_HMAC_SHA1 = 0x7301;
inline constexpr int32_t SB_ALG_HMAC_SHA224 = 0x7302;
inline constexpr int32_t SB_ALG_HMAC_SHA256 = 0x7303;
inline constexpr int32_t SB_ALG_HMAC_SHA384 = 0x7304;
inline constexpr int32_t SB_ALG_HMAC_SHA512 = 0x7305;
inline constexpr int32_t SB_ALG_HMAC_MD5 = 0x7306;
inline constexpr int32_t SB_ALG_HMAC_RIPEMD160 = 0x7307;
inline constexpr int32_t SB_ALG_GENERIC_MAC = 0x7308;

// Public-key algorithms
inline constexpr int32_t SB_ALG_PK_RSA = 0x7401;
inline constexpr int32_t SB_ALG_PK_DSA = 0x7402;
inline constexpr int32_t SB_ALG_PK_ELGAMAL = 0x7403;
inline constexpr int32_t SB_ALG_PK_DH = 0x7407;
inline constexpr int32_t SB_ALG_PK_SRP = 0x7408;

// ---------------------------------------------------------------------------------------------
// Certificate algorithm numbers

inline constexpr int32_t SB_CERT_ALG_RSA_ENCRYPTION = 0;
inline constexpr int32_t SB_CERT_ALG_MD2_RSA = 1;
inline constexpr int32_t SB_CERT_ALG_MD5_RSA = 2;
inline constexpr int32_t SB_CERT_ALG_SHA1_RSA = 3;
inline constexpr int32_t SB_CERT_ALG_DSA = 4;
inline constexpr int32_t SB_CERT_ALG_DSA_SHA1 = 5;
inline constexpr int32_t SB_CERT_ALG_DH = 6;
inline constexpr int32_t SB_CERT_ALG_SHA224_RSA = 7;
inline constexpr int32_t SB_CERT_ALG_SHA256_RSA = 8;
inline constexpr int32_t SB_CERT_ALG_SHA384_RSA = 9;
inline constexpr int32_t SB_CERT_ALG_SHA512_RSA = 10;
inline constexpr int32_t SB_CERT_ALG_RSASSA_PSS = 11;
inline constexpr int32_t SB_CERT_ALG_RSAES_OAEP = 12;
inline constexpr int32_t SB_CERT_ALG_RIPEMD160_RSA = 13;
inline constexpr int32_t SB_CERT_ALG_NONE = 0xFFFF;
inline constexpr int32_t SB_CERT_ALG_UNKNOWN = 0x7FFF;

// ---------------------------------------------------------------------------------------------
// Pseudo-OIDs: "<name>" + SB_PSEUDO_OID_SUFFIX. The provider property identifiers use the same
// suffix.

#define SB_PSEUDO_OID_SUFFIX "@kwloader.crypto"
inline constexpr std::string_view SBPseudoOIDSuffix = SB_PSEUDO_OID_SUFFIX;
inline constexpr std::string_view SB_OID_IDENTITY = "identity" SB_PSEUDO_OID_SUFFIX;
inline constexpr std::string_view SB_OID_SSL_HASH = "ssl-hash" SB_PSEUDO_OID_SUFFIX;

// ---------------------------------------------------------------------------------------------
// Object identifiers (DER content octets)

// Names and attributes of certificates
inline constexpr std::string_view SB_OID_X520_OBJECT_CLASS{"\x55\x04\x00", 3};                   // 2.5.4.0
inline constexpr std::string_view SB_OID_X520_ALIASED_ENTRY_NAME{"\x55\x04\x01", 3};             // 2.5.4.1
inline constexpr std::string_view SB_OID_X520_KNOWLEDGE_INFORMATION{"\x55\x04\x02", 3};          // 2.5.4.2
inline constexpr std::string_view SB_OID_X520_COMMON_NAME{"\x55\x04\x03", 3};                    // 2.5.4.3
inline constexpr std::string_view SB_OID_X520_SURNAME{"\x55\x04\x04", 3};                        // 2.5.4.4
inline constexpr std::string_view SB_OID_X520_SERIAL_NUMBER{"\x55\x04\x05", 3};                  // 2.5.4.5
inline constexpr std::string_view SB_OID_X520_COUNTRY{"\x55\x04\x06", 3};                        // 2.5.4.6
inline constexpr std::string_view SB_OID_X520_LOCALITY{"\x55\x04\x07", 3};                       // 2.5.4.7
inline constexpr std::string_view SB_OID_X520_STATE_OR_PROVINCE{"\x55\x04\x08", 3};              // 2.5.4.8
inline constexpr std::string_view SB_OID_X520_STREET_ADDRESS{"\x55\x04\x09", 3};                 // 2.5.4.9
inline constexpr std::string_view SB_OID_X520_ORGANIZATION{"\x55\x04\x0A", 3};                   // 2.5.4.10
inline constexpr std::string_view SB_OID_X520_ORGANIZATION_UNIT{"\x55\x04\x0B", 3};              // 2.5.4.11
inline constexpr std::string_view SB_OID_X520_TITLE{"\x55\x04\x0C", 3};                          // 2.5.4.12
inline constexpr std::string_view SB_OID_X520_DESCRIPTION{"\x55\x04\x0D", 3};                    // 2.5.4.13
inline constexpr std::string_view SB_OID_X520_SEARCH_GUIDE{"\x55\x04\x0E", 3};                   // 2.5.4.14
inline constexpr std::string_view SB_OID_X520_BUSINESS_CATEGORY{"\x55\x04\x0F", 3};              // 2.5.4.15
inline constexpr std::string_view SB_OID_X520_POSTAL_ADDRESS{"\x55\x04\x10", 3};                 // 2.5.4.16
inline constexpr std::string_view SB_OID_X520_POSTAL_CODE{"\x55\x04\x11", 3};                    // 2.5.4.17
inline constexpr std::string_view SB_OID_X520_POST_OFFICE_BOX{"\x55\x04\x12", 3};                // 2.5.4.18
inline constexpr std::string_view SB_OID_X520_PHYSICAL_DELIVERY_OFFICE_NAME{"\x55\x04\x13", 3};  // 2.5.4.19
inline constexpr std::string_view SB_OID_X520_TELEPHONE_NUMBER{"\x55\x04\x14", 3};               // 2.5.4.20
inline constexpr std::string_view SB_OID_X520_TELEX_NUMBER{"\x55\x04\x15", 3};                   // 2.5.4.21
inline constexpr std::string_view SB_OID_X520_TELETEX_TERMINAL_ID{"\x55\x04\x16", 3};            // 2.5.4.22
inline constexpr std::string_view SB_OID_X520_FACSIMILE_TELEPHONE_NUMBER{"\x55\x04\x17", 3};     // 2.5.4.23
inline constexpr std::string_view SB_OID_X520_X121_ADDRESS{"\x55\x04\x18", 3};                   // 2.5.4.24
inline constexpr std::string_view SB_OID_X520_INTERNATIONAL_ISDN_NUMBER{"\x55\x04\x19", 3};      // 2.5.4.25
inline constexpr std::string_view SB_OID_X520_REGISTERED_ADDRESS{"\x55\x04\x1A", 3};             // 2.5.4.26
inline constexpr std::string_view SB_OID_X520_DESTINATION_INDICATOR{"\x55\x04\x1B", 3};          // 2.5.4.27
inline constexpr std::string_view SB_OID_X520_PREFERRED_DELIVERY_METHOD{"\x55\x04\x1C", 3};      // 2.5.4.28
inline constexpr std::string_view SB_OID_X520_PRESENTATION_ADDRESS{"\x55\x04\x1D", 3};           // 2.5.4.29
inline constexpr std::string_view SB_OID_X520_SUPPORTED_APPLICATION_CONTEXT{"\x55\x04\x1E", 3};  // 2.5.4.30
inline constexpr std::string_view SB_OID_X520_MEMBER{"\x55\x04\x1F", 3};                         // 2.5.4.31
inline constexpr std::string_view SB_OID_X520_OWNER{"\x55\x04\x20", 3};                          // 2.5.4.32
inline constexpr std::string_view SB_OID_X520_ROLE_OCCUPANT{"\x55\x04\x21", 3};                  // 2.5.4.33
inline constexpr std::string_view SB_OID_X520_SEE_ALSO{"\x55\x04\x22", 3};                       // 2.5.4.34
inline constexpr std::string_view SB_OID_X520_USER_PASSWORD{"\x55\x04\x23", 3};                  // 2.5.4.35
inline constexpr std::string_view SB_OID_X520_USER_CERTIFICATE{"\x55\x04\x24", 3};               // 2.5.4.36
inline constexpr std::string_view SB_OID_X520_CA_CERTIFICATE{"\x55\x04\x25", 3};                 // 2.5.4.37
inline constexpr std::string_view SB_OID_X520_AUTHORITY_REVOCATION_LIST{"\x55\x04\x26", 3};      // 2.5.4.38
inline constexpr std::string_view SB_OID_X520_CERTIFICATE_REVOCATION_LIST{"\x55\x04\x27", 3};    // 2.5.4.39
inline constexpr std::string_view SB_OID_X520_CROSS_CERTIFICATE_PAIR{"\x55\x04\x28", 3};         // 2.5.4.40
inline constexpr std::string_view SB_OID_X520_NAME{"\x55\x04\x29", 3};                           // 2.5.4.41
inline constexpr std::string_view SB_OID_X520_GIVEN_NAME{"\x55\x04\x2A", 3};                     // 2.5.4.42
inline constexpr std::string_view SB_OID_X520_INITIALS{"\x55\x04\x2B", 3};                       // 2.5.4.43
inline constexpr std::string_view SB_OID_X520_GENERATION_QUALIFIER{"\x55\x04\x2C", 3};           // 2.5.4.44
inline constexpr std::string_view SB_OID_X520_UNIQUE_IDENTIFIER{"\x55\x04\x2D", 3};              // 2.5.4.45
inline constexpr std::string_view SB_OID_X520_DN_QUALIFIER{"\x55\x04\x2E", 3};                   // 2.5.4.46
inline constexpr std::string_view SB_OID_X520_ENHANCED_SEARCH_GUIDE{"\x55\x04\x2F", 3};          // 2.5.4.47
inline constexpr std::string_view SB_OID_X520_PROTOCOL_INFORMATION{"\x55\x04\x30", 3};           // 2.5.4.48
inline constexpr std::string_view SB_OID_X520_DISTINGUISHED_NAME{"\x55\x04\x31", 3};             // 2.5.4.49
inline constexpr std::string_view SB_OID_X520_UNIQUE_MEMBER{"\x55\x04\x32", 3};                  // 2.5.4.50
inline constexpr std::string_view SB_OID_X520_HOUSE_IDENTIFIER{"\x55\x04\x33", 3};               // 2.5.4.51
inline constexpr std::string_view SB_OID_X520_SUPPORTED_ALGORITHMS{"\x55\x04\x34", 3};           // 2.5.4.52
inline constexpr std::string_view SB_OID_X520_DELTA_REVOCATION_LIST{"\x55\x04\x35", 3};          // 2.5.4.53
inline constexpr std::string_view SB_OID_X520_ATTRIBUTE_CERTIFICATE{"\x55\x04\x3A", 3};          // 2.5.4.58
inline constexpr std::string_view SB_OID_X520_PSEUDONYM{"\x55\x04\x41", 3};                      // 2.5.4.65
inline constexpr std::string_view SB_OID_EMAIL_ADDRESS{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x01",
                                                       9};  // 1.2.840.113549.1.9.1
inline constexpr std::string_view SB_OID_UNSTRUCTURED_NAME{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x02",
                                                           9};  // 1.2.840.113549.1.9.2
inline constexpr std::string_view SB_OID_EXTENSION_REQUEST{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x0E",
                                                           9};  // 1.2.840.113549.1.9.14
inline constexpr std::string_view SB_OID_PKIX_0_18_8_3{"\x2B\x06\x01\x05\x05\x07\x00\x12\x08\x03", 10};
inline constexpr std::string_view SB_OID_ACCESS_METHOD_OCSP{"\x2B\x06\x01\x05\x05\x07\x30\x01",
                                                            8};  // 1.3.6.1.5.5.7.48.1
inline constexpr std::string_view SB_OID_ACCESS_METHOD_CA_ISSUERS{"\x2B\x06\x01\x05\x05\x07\x30\x02",
                                                                  8};                    // 1.3.6.1.5.5.7.48.2
inline constexpr std::string_view SB_OID_QT_CPS{"\x2B\x06\x01\x05\x05\x07\x02\x01", 8};  // 1.3.6.1.5.5.7.2.1
inline constexpr std::string_view SB_OID_QT_UNOTICE{"\x2B\x06\x01\x05\x05\x07\x02\x02",
                                                    8};  // 1.3.6.1.5.5.7.2.2
inline constexpr std::string_view SB_OID_KP_SERVER_AUTH{"\x2B\x06\x01\x05\x05\x07\x03\x01",
                                                        8};  // 1.3.6.1.5.5.7.3.1
inline constexpr std::string_view SB_OID_KP_CLIENT_AUTH{"\x2B\x06\x01\x05\x05\x07\x03\x02",
                                                        8};  // 1.3.6.1.5.5.7.3.2
inline constexpr std::string_view SB_OID_KP_CODE_SIGNING{"\x2B\x06\x01\x05\x05\x07\x03\x03",
                                                         8};  // 1.3.6.1.5.5.7.3.3
inline constexpr std::string_view SB_OID_KP_EMAIL_PROTECTION{"\x2B\x06\x01\x05\x05\x07\x03\x04",
                                                             8};  // 1.3.6.1.5.5.7.3.4
inline constexpr std::string_view SB_OID_KP_TIME_STAMPING{"\x2B\x06\x01\x05\x05\x07\x03\x08",
                                                          8};  // 1.3.6.1.5.5.7.3.8
inline constexpr std::string_view SB_OID_KP_OCSP_SIGNING{"\x2B\x06\x01\x05\x05\x07\x03\x09",
                                                         8};  // 1.3.6.1.5.5.7.3.9

// Public-key and signature algorithms
inline constexpr std::string_view SB_OID_RSA_ENCRYPTION{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x01",
                                                        9};              // 1.2.840.113549.1.1.1
inline constexpr std::string_view SB_OID_EA_RSA{"\x55\x08\x01\x01", 4};  // 2.5.8.1.1
inline constexpr std::string_view SB_OID_RSASSA_PSS{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0A",
                                                    9};  // 1.2.840.113549.1.1.10
inline constexpr std::string_view SB_OID_RSAES_OAEP{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x07",
                                                    9};  // 1.2.840.113549.1.1.7
inline constexpr std::string_view SB_OID_MGF1{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x08",
                                              9};  // 1.2.840.113549.1.1.8
inline constexpr std::string_view SB_OID_OAEP_SRC_SPECIFIED{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x09",
                                                            9};                        // 1.2.840.113549.1.1.9
inline constexpr std::string_view SB_OID_DSA{"\x2A\x86\x48\xCE\x38\x04\x01", 7};       // 1.2.840.10040.4.1
inline constexpr std::string_view SB_OID_DSA_SHA1{"\x2A\x86\x48\xCE\x38\x04\x03", 7};  // 1.2.840.10040.4.3
inline constexpr std::string_view SB_OID_DSA_ALT{"\x2B\x0E\x03\x02\x0C", 5};           // 1.3.14.3.2.12
inline constexpr std::string_view SB_OID_DSA_SHA1_ALT{"\x2B\x0E\x03\x02\x0D", 5};      // 1.3.14.3.2.13
inline constexpr std::string_view SB_OID_DH{"\x2A\x86\x48\xCE\x3E\x02\x01", 7};        // 1.2.840.10046.2.1
inline constexpr std::string_view SB_OID_MD2_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x02",
                                                 9};  // 1.2.840.113549.1.1.2
inline constexpr std::string_view SB_OID_MD5_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x04",
                                                 9};  // 1.2.840.113549.1.1.4
inline constexpr std::string_view SB_OID_SHA1_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x05",
                                                  9};  // 1.2.840.113549.1.1.5
inline constexpr std::string_view SB_OID_SHA224_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0E",
                                                    9};  // 1.2.840.113549.1.1.14
inline constexpr std::string_view SB_OID_SHA256_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0B",
                                                    9};  // 1.2.840.113549.1.1.11
inline constexpr std::string_view SB_OID_SHA384_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0C",
                                                    9};  // 1.2.840.113549.1.1.12
inline constexpr std::string_view SB_OID_SHA512_RSA{"\x2A\x86\x48\x86\xF7\x0D\x01\x01\x0D",
                                                    9};                            // 1.2.840.113549.1.1.13
inline constexpr std::string_view SB_OID_SHA1_RSA_OIW{"\x2B\x0E\x03\x02\x1D", 5};  // 1.3.14.3.2.29
inline constexpr std::string_view SB_OID_RIPEMD160_RSA{"\x2B\x24\x03\x03\x01\x02", 6};  // 1.3.36.3.3.1.2

// Symmetric ciphers
inline constexpr std::string_view SB_OID_RC4{"\x2A\x86\x48\x86\xF7\x0D\x03\x04", 8};  // 1.2.840.113549.3.4
inline constexpr std::string_view SB_OID_RC2_CBC{"\x2A\x86\x48\x86\xF7\x0D\x03\x02",
                                                 8};                          // 1.2.840.113549.3.2
inline constexpr std::string_view SB_OID_DES_CBC{"\x2B\x0E\x03\x02\x07", 5};  // 1.3.14.3.2.7
inline constexpr std::string_view SB_OID_DES_EDE3_CBC{"\x2A\x86\x48\x86\xF7\x0D\x03\x07",
                                                      8};  // 1.2.840.113549.3.7
inline constexpr std::string_view SB_OID_AES128_CBC{"\x60\x86\x48\x01\x65\x03\x04\x01\x02",
                                                    9};  // 2.16.840.1.101.3.4.1.2
inline constexpr std::string_view SB_OID_AES192_CBC{"\x60\x86\x48\x01\x65\x03\x04\x01\x16",
                                                    9};  // 2.16.840.1.101.3.4.1.22
inline constexpr std::string_view SB_OID_AES256_CBC{"\x60\x86\x48\x01\x65\x03\x04\x01\x2A",
                                                    9};  // 2.16.840.1.101.3.4.1.42
inline constexpr std::string_view SB_OID_SERPENT128_CBC{"\x2B\x06\x01\x04\x01\xDA\x47\x0D\x02\x02",
                                                        10};  // 1.3.6.1.4.1.11591.13.2.2
inline constexpr std::string_view SB_OID_SERPENT192_CBC{"\x2B\x06\x01\x04\x01\xDA\x47\x0D\x02\x16",
                                                        10};  // 1.3.6.1.4.1.11591.13.2.22
inline constexpr std::string_view SB_OID_SERPENT256_CBC{"\x2B\x06\x01\x04\x01\xDA\x47\x0D\x02\x2A",
                                                        10};  // 1.3.6.1.4.1.11591.13.2.42
inline constexpr std::string_view SB_OID_CAST128_CBC{"\x2A\x86\x48\x86\xF6\x7D\x07\x42\x0A",
                                                     9};  // 1.2.840.113533.7.66.10
inline constexpr std::string_view SB_OID_BLOWFISH_CBC{"\x2B\x06\x01\x04\x01\x97\x55\x01\x01\x02",
                                                      10};  // 1.3.6.1.4.1.3029.1.1.2
inline constexpr std::string_view SB_OID_CAMELLIA128_CBC{"\x2A\x83\x08\x8C\x9A\x4B\x3D\x01\x01\x01\x02",
                                                         11};  // 1.2.392.200011.61.1.1.1.2
inline constexpr std::string_view SB_OID_CAMELLIA192_CBC{"\x2A\x83\x08\x8C\x9A\x4B\x3D\x01\x01\x01\x03",
                                                         11};  // 1.2.392.200011.61.1.1.1.3
inline constexpr std::string_view SB_OID_CAMELLIA256_CBC{"\x2A\x83\x08\x8C\x9A\x4B\x3D\x01\x01\x01\x04",
                                                         11};  // 1.2.392.200011.61.1.1.1.4
inline constexpr std::string_view SB_OID_SEED{"\x2A\x83\x1A\x8C\x9A\x44\x01\x04\x05\x00", 10};
inline constexpr std::string_view SB_OID_RABBIT{"\x00", 1};

// Digests and MACs
inline constexpr std::string_view SB_OID_MD2{"\x2A\x86\x48\x86\xF7\x0D\x02\x02", 8};  // 1.2.840.113549.2.2
inline constexpr std::string_view SB_OID_MD4{"\x2A\x86\x48\x86\xF7\x0D\x02\x04", 8};  // 1.2.840.113549.2.4
inline constexpr std::string_view SB_OID_MD5{"\x2A\x86\x48\x86\xF7\x0D\x02\x05", 8};  // 1.2.840.113549.2.5
inline constexpr std::string_view SB_OID_SHA1{"\x2B\x0E\x03\x02\x1A", 5};             // 1.3.14.3.2.26
inline constexpr std::string_view SB_OID_SHA224{"\x60\x86\x48\x01\x65\x03\x04\x02\x04",
                                                9};  // 2.16.840.1.101.3.4.2.4
inline constexpr std::string_view SB_OID_SHA256{"\x60\x86\x48\x01\x65\x03\x04\x02\x01",
                                                9};  // 2.16.840.1.101.3.4.2.1
inline constexpr std::string_view SB_OID_SHA384{"\x60\x86\x48\x01\x65\x03\x04\x02\x02",
                                                9};  // 2.16.840.1.101.3.4.2.2
inline constexpr std::string_view SB_OID_SHA512{"\x60\x86\x48\x01\x65\x03\x04\x02\x03",
                                                9};                             // 2.16.840.1.101.3.4.2.3
inline constexpr std::string_view SB_OID_RIPEMD160{"\x2B\x24\x03\x02\x01", 5};  // 1.3.36.3.2.1
inline constexpr std::string_view SB_OID_HMACSHA1{"\x2B\x06\x01\x05\x05\x08\x01\x02",
                                                  8};  // 1.3.6.1.5.5.8.1.2
inline constexpr std::string_view SB_OID_HMACSHA1_PKCS{"\x2A\x86\x48\x86\xF7\x0D\x02\x07",
                                                       8};  // 1.2.840.113549.2.7
inline constexpr std::string_view SB_OID_HMACSHA224{"\x2B\x06\x01\x05\x05\x08\x01\x08",
                                                    8};  // 1.3.6.1.5.5.8.1.8
inline constexpr std::string_view SB_OID_HMACSHA256{"\x2B\x06\x01\x05\x05\x08\x01\x09",
                                                    8};  // 1.3.6.1.5.5.8.1.9
inline constexpr std::string_view SB_OID_HMACSHA384{"\x2B\x06\x01\x05\x05\x08\x01\x0A",
                                                    8};  // 1.3.6.1.5.5.8.1.10
inline constexpr std::string_view SB_OID_HMACSHA512{"\x2B\x06\x01\x05\x05\x08\x01\x0B",
                                                    8};  // 1.3.6.1.5.5.8.1.11

// Password-based schemes
inline constexpr std::string_view SB_OID_PBE_MD2_DES{"\x2A\x86\x48\x86\xF7\x0D\x01\x05\x01",
                                                     9};  // 1.2.840.113549.1.5.1
inline constexpr std::string_view SB_OID_PBE_MD2_RC2{"\x2A\x86\x48\x86\xF7\x0D\x01\x05\x04",
                                                     9};  // 1.2.840.113549.1.5.4
inline constexpr std::string_view SB_OID_PBE_MD5_DES{"\x2A\x86\x48\x86\xF7\x0D\x01\x05\x03",
                                                     9};  // 1.2.840.113549.1.5.3
inline constexpr std::string_view SB_OID_PBE_MD5_RC2{"\x2A\x86\x48\x86\xF7\x0D\x01\x05\x06",
                                                     9};  // 1.2.840.113549.1.5.6
inline constexpr std::string_view SB_OID_PBE_SHA1_DES{"\x2A\x86\x48\x86\xF7\x0D\x01\x05\x0A",
                                                      9};  // 1.2.840.113549.1.5.10
inline constexpr std::string_view SB_OID_PBE_SHA1_RC2{"\x2A\x86\x48\x86\xF7\x0D\x01\x05\x0B",
                                                      9};  // 1.2.840.113549.1.5.11
inline constexpr std::string_view SB_OID_PBES2{"\x2A\x86\x48\x86\xF7\x0D\x01\x05\x0D",
                                               9};  // 1.2.840.113549.1.5.13
inline constexpr std::string_view SB_OID_PBKDF2{"\x2A\x86\x48\x86\xF7\x0D\x01\x05\x0C",
                                                9};  // 1.2.840.113549.1.5.12
inline constexpr std::string_view SB_OID_PBMAC1{"\x2A\x86\x48\x86\xF7\x0D\x01\x05\x0E",
                                                9};  // 1.2.840.113549.1.5.14
inline constexpr std::string_view SB_OID_PKCS12_PBE_SHA1_RC4_128{"\x2A\x86\x48\x86\xF7\x0D\x01\x0C\x01\x01",
                                                                 10};  // 1.2.840.113549.1.12.1.1
inline constexpr std::string_view SB_OID_PKCS12_PBE_SHA1_RC4_40{"\x2A\x86\x48\x86\xF7\x0D\x01\x0C\x01\x02",
                                                                10};  // 1.2.840.113549.1.12.1.2
inline constexpr std::string_view SB_OID_PKCS12_PBE_SHA1_3DES{"\x2A\x86\x48\x86\xF7\x0D\x01\x0C\x01\x03",
                                                              10};  // 1.2.840.113549.1.12.1.3
inline constexpr std::string_view SB_OID_PKCS12_PBE_SHA1_RC2_128{"\x2A\x86\x48\x86\xF7\x0D\x01\x0C\x01\x05",
                                                                 10};  // 1.2.840.113549.1.12.1.5
inline constexpr std::string_view SB_OID_PKCS12_PBE_SHA1_RC2_40{"\x2A\x86\x48\x86\xF7\x0D\x01\x0C\x01\x06",
                                                                10};  // 1.2.840.113549.1.12.1.6

// PKCS #7 and PKCS #9, S/MIME and time-stamping
inline constexpr std::string_view SB_OID_PKCS7_DATA{"\x2A\x86\x48\x86\xF7\x0D\x01\x07\x01",
                                                    9};  // 1.2.840.113549.1.7.1
inline constexpr std::string_view SB_OID_TSTINFO{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x01\x04",
                                                 11};  // 1.2.840.113549.1.9.16.1.4
inline constexpr std::string_view SB_OID_CONTENT_TYPE{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x03",
                                                      9};  // 1.2.840.113549.1.9.3
inline constexpr std::string_view SB_OID_MESSAGE_DIGEST{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x04",
                                                        9};  // 1.2.840.113549.1.9.4
inline constexpr std::string_view SB_OID_SIGNING_TIME{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x05",
                                                      9};  // 1.2.840.113549.1.9.5
inline constexpr std::string_view SB_OID_COUNTER_SIGNATURE{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x06",
                                                           9};  // 1.2.840.113549.1.9.6
inline constexpr std::string_view SB_OID_SMIME_CAPABILITIES{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x0F",
                                                            9};  // 1.2.840.113549.1.9.15
inline constexpr std::string_view SB_OID_AA_TIME_STAMP_TOKEN{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x0E",
                                                             11};  // 1.2.840.113549.1.9.16.2.14
inline constexpr std::string_view SB_OID_AA_SIGNING_CERTIFICATE{
    "\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x0C", 11};  // 1.2.840.113549.1.9.16.2.12
inline constexpr std::string_view SB_OID_AA_CONTENT_HINT{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x04",
                                                         11};  // 1.2.840.113549.1.9.16.2.4
inline constexpr std::string_view SB_OID_AA_CONTENT_IDENTIFIER{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x07",
                                                               11};  // 1.2.840.113549.1.9.16.2.7
inline constexpr std::string_view SB_OID_AA_CONTENT_REFERENCE{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x0A",
                                                              11};  // 1.2.840.113549.1.9.16.2.10
inline constexpr std::string_view SB_OID_AA_SIGNATURE_POLICY{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x0F",
                                                             11};  // 1.2.840.113549.1.9.16.2.15
inline constexpr std::string_view SB_OID_AA_COMMITMENT_TYPE{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x10",
                                                            11};  // 1.2.840.113549.1.9.16.2.16
inline constexpr std::string_view SB_OID_AA_SIGNER_LOCATION{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x11",
                                                            11};  // 1.2.840.113549.1.9.16.2.17
inline constexpr std::string_view SB_OID_AA_CERTIFICATE_REFS{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x15",
                                                             11};  // 1.2.840.113549.1.9.16.2.21
inline constexpr std::string_view SB_OID_AA_REVOCATION_REFS{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x16",
                                                            11};  // 1.2.840.113549.1.9.16.2.22
inline constexpr std::string_view SB_OID_AA_CERTIFICATE_VALUES{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x17",
                                                               11};  // 1.2.840.113549.1.9.16.2.23
inline constexpr std::string_view SB_OID_AA_REVOCATION_VALUES{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x18",
                                                              11};  // 1.2.840.113549.1.9.16.2.24
inline constexpr std::string_view SB_OID_AA_ESC_TIME_STAMP{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x19",
                                                           11};  // 1.2.840.113549.1.9.16.2.25
inline constexpr std::string_view SB_OID_AA_CERT_CRL_TIME_STAMP{
    "\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x1A", 11};  // 1.2.840.113549.1.9.16.2.26
inline constexpr std::string_view SB_OID_AA_ARCHIVE_TIME_STAMP{"\x2A\x86\x48\x86\xF7\x0D\x01\x09\x10\x02\x1B",
                                                               11};  // 1.2.840.113549.1.9.16.2.27

// Code-signing attributes under 1.3.6.1.4.1.311.2.1
inline constexpr std::string_view SB_OID_SPC_4{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x04",
                                               10};  // 1.3.6.1.4.1.311.2.1.4
inline constexpr std::string_view SB_OID_SPC_10{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x0A",
                                                10};  // 1.3.6.1.4.1.311.2.1.10
inline constexpr std::string_view SB_OID_SPC_11{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x0B",
                                                10};  // 1.3.6.1.4.1.311.2.1.11
inline constexpr std::string_view SB_OID_SPC_12{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x0C",
                                                10};  // 1.3.6.1.4.1.311.2.1.12
inline constexpr std::string_view SB_OID_SPC_14{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x0E",
                                                10};  // 1.3.6.1.4.1.311.2.1.14
inline constexpr std::string_view SB_OID_SPC_15{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x0F",
                                                10};  // 1.3.6.1.4.1.311.2.1.15
inline constexpr std::string_view SB_OID_SPC_18{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x12",
                                                10};  // 1.3.6.1.4.1.311.2.1.18
inline constexpr std::string_view SB_OID_SPC_19{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x13",
                                                10};  // 1.3.6.1.4.1.311.2.1.19
inline constexpr std::string_view SB_OID_SPC_20{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x14",
                                                10};  // 1.3.6.1.4.1.311.2.1.20
inline constexpr std::string_view SB_OID_SPC_21{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x15",
                                                10};  // 1.3.6.1.4.1.311.2.1.21
inline constexpr std::string_view SB_OID_SPC_22{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x16",
                                                10};  // 1.3.6.1.4.1.311.2.1.22
inline constexpr std::string_view SB_OID_SPC_25{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x19",
                                                10};  // 1.3.6.1.4.1.311.2.1.25
inline constexpr std::string_view SB_OID_SPC_26{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x1A",
                                                10};  // 1.3.6.1.4.1.311.2.1.26
inline constexpr std::string_view SB_OID_SPC_27{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x1B",
                                                10};  // 1.3.6.1.4.1.311.2.1.27
inline constexpr std::string_view SB_OID_SPC_28{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x1C",
                                                10};  // 1.3.6.1.4.1.311.2.1.28
inline constexpr std::string_view SB_OID_SPC_29{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x1D",
                                                10};  // 1.3.6.1.4.1.311.2.1.29
inline constexpr std::string_view SB_OID_SPC_30{"\x2B\x06\x01\x04\x01\x82\x37\x02\x01\x1E",
                                                10};  // 1.3.6.1.4.1.311.2.1.30

// Every OID constant above with its name (the pseudo-OIDs excluded), for lookups by name and
// for checking the table against a reference encoder.
struct SBOIDTableEntry {
    std::string_view Name;
    std::string_view OID;
};
std::span<const SBOIDTableEntry> SBOIDTable();
