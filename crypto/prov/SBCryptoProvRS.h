// crypto/prov/SBCryptoProvRS.h: the message texts of the provider layer. The provider, key, context
// and facade units quote their messages from here; the "%d" and "%s" texts are rtl::Format
// patterns (an algorithm code in decimal, an OID as dotted text, or a property identifier).
#pragma once

inline constexpr const char* SInvalidPublicKey = "Invalid public key";
inline constexpr const char* SInvalidSecretKey = "Invalid secret key";
inline constexpr const char* SBufferTooSmall = "Buffer too small";
inline constexpr const char* SUnsupportedAlgorithmInt = "Unsupported algorithm (%d)";
inline constexpr const char* SUnsupportedAlgorithmStr = "Unsupported algorithm (%s)";
inline constexpr const char* SUnsupportedPropertyStr = "Unsupported property (%s)";
inline constexpr const char* SUnknownAlgorithmPropertyStr = "Unknown algorithm property (%s)";
inline constexpr const char* SUnsupportedPropertyValueStr = "Unsupported property value (%s)";
inline constexpr const char* SInvalidContext = "Invalid context";
inline constexpr const char* SInvalidAlgorithm = "Invalid algorithm";
inline constexpr const char* SCannotChangeAlgorithm = "The algorithm cannot be changed";
inline constexpr const char* SCannotChangeROProperty = "Cannot change read-only property";
inline constexpr const char* SNotASymmetricCipherContext = "Not a symmetric cipher context";
inline constexpr const char* SNotAHashContext = "Not a hash context";
inline constexpr const char* SNotAPublicKeyContext = "Not a public key operation context";
inline constexpr const char* SNotARC4Context = "Not a RC4 context";
inline constexpr const char* SNotARSAContext = "Not a RSA context";
inline constexpr const char* SCannotCloneContext = "Cannot clone a context";
inline constexpr const char* SInternalError = "Internal error";
inline constexpr const char* SUnsupportedOperation = "Unsupported operation";
inline constexpr const char* SInternalException = "Internal exception";
inline constexpr const char* SInvalidKeyMaterial = "Invalid key material";
inline constexpr const char* SInvalidCipherMode = "Invalid cipher mode of operation";
inline constexpr const char* SInvalidCryptoProvider = "Invalid cryptographic provider";
inline constexpr const char* SInterruptedByUser = "Interrupted by user";
inline constexpr const char* SUnsupportedCryptoProvider = "Unsupported crypto provider";
inline constexpr const char* SPublicKeyNotFound = "Public key not found";
inline constexpr const char* SSecretKeyNotFound = "Secret key not found";
inline constexpr const char* SBadKeyMaterial = "Bad key material";
inline constexpr const char* SInvalidKeyMaterialType = "Invalid key material type";
inline constexpr const char* SSigningFailed = "Signing failed";
inline constexpr const char* SEncryptionFailed = "Encryption failed";
inline constexpr const char* SDecryptionFailed = "Decryption failed";
inline constexpr const char* SEncryptionType = "Encryption type";
inline constexpr const char* SOnlyDetachedSigningSupported = "Only detached signing supported";
inline constexpr const char* SInputTooLong = "Input too long";
inline constexpr const char* SBadSignatureFormatting = "Bad signature formatting";
inline constexpr const char* SCannotModifyReadOnlyProperty = "Cannot modify read-only property";
inline constexpr const char* SKeyGenerationFailed = "Key generation failed";
inline constexpr const char* SNotASigningAlgorithm = "Not a signing algorithm";
inline constexpr const char* SInvalidPadding = "Invalid symmetric cipher padding";
inline constexpr const char* SKeyAlreadyPrepared = "Key is already prepared";
// Ours: an update or finalisation of a cipher that was not initialised for that direction,
// or whose message has already been finalised.
inline constexpr const char* SCipherNotInitialized = "Cipher not initialized";
