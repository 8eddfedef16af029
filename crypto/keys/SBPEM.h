// crypto/keys/SBPEM.h: PEM armour around DER data, optionally encrypted with a passphrase in the
// traditional "Proc-Type: 4,ENCRYPTED" form (RFC 1421 with OpenSSL's key derivation), and the
// small text tools the PKI code uses with it: a test for bare Base64 text, the hexadecimal
// decoder of the DEK-Info IV, the passphrase-to-key derivation, and a streaming Base64 encoder
// and decoder with their own context.
//
// Every function works on caller-supplied buffers and never raises for bad input: the armour
// answers a Boolean or a result code, the streaming coders a Boolean. Size protocol: on entry
// the size is the room of the output; too little room (or no output) writes nothing, stores the
// size needed and reports the shortfall.
//
// What must stay true: a decoded body is accepted only between a BEGIN line and an END line;
// the padding of a decrypted body is checked whole (1 to 8 bytes, all equal) without a branch on
// its bytes, and every decryption failure gives the same code; decrypted data live in wiped
// memory until they are copied to the caller.
#pragma once

#include <cstdint>
#include <string>

#include "crypto/base/SBUtils.h"

inline constexpr int32_t PEM_DECODE_RESULT_OK = 0;
inline constexpr int32_t PEM_DECODE_RESULT_INVALID_FORMAT = 0x1D01;
inline constexpr int32_t PEM_DECODE_RESULT_INVALID_PASSPHRASE = 0x1D02;
inline constexpr int32_t PEM_DECODE_RESULT_NOT_ENOUGH_SPACE = 0x1D03;
inline constexpr int32_t PEM_DECODE_RESULT_UNKNOWN_CIPHER = 0x1D04;

// "-----BEGIN " + Header + "-----", the Base64 body in lines of 64 characters, "-----END " +
// Header + "-----", every line ended by LF. With Encrypt the body is the input padded (PKCS#5)
// and encrypted with triple DES in CBC mode under the passphrase's key, announced by the
// Proc-Type and DEK-Info lines. False (with the size needed) only for too little room.
bool PEMEncode(const void* Input, int32_t InputSize, void* Output, int32_t& OutputSize, const std::string& Header,
               bool Encrypt, const ByteString& Passphrase);
// The first armoured block of the input: its data (decrypted with the passphrase when
// DEK-Info says DES-CBC or DES-EDE3-CBC) and its header word. Any text before the BEGIN line is
// ignored. Codes PEM_DECODE_RESULT_*; on NOT_ENOUGH_SPACE the size holds the exact length.
int32_t PEMDecode(const void* Input, int32_t InputSize, void* Output, const ByteString& Passphrase, int32_t& OutputSize,
                  std::string& Header);
// OpenSSL's traditional key derivation (EVP_BytesToKey with MD5, one iteration):
// D1 = MD5(passphrase | salt), Dn = MD5(Dn-1 | passphrase | salt), cut to KeyLength bytes.
void PassphraseToPEMKey(const ByteString& Passphrase, const ByteString& Salt, int32_t KeyLength, ByteString& Key);

// Whether the bytes (or UTF-16LE units, whose high byte must be 0) are bare Base64 text: CR and
// LF anywhere, alphabet characters before the first "=", at most two "=", NUL only after one.
bool IsBase64Buffer(const void* Buffer, int32_t Size);
bool IsBase64WideBuffer(const void* Buffer, int32_t Size);
// Pairs of digits "0"-"9", "A"-"F" (any other character counts 0); odd length: empty.
void HexStringToBytes(const std::string& Text, ByteString& Bytes);

// The state of one streaming Base64 run, in either direction.
struct Base64Context {
    uint8_t Pending[4] = {};
    int32_t PendingCount = 0;
    int32_t LinePosition = 0;  // encoder
    int32_t LineLength = 0;    // encoder: 0 means no line breaks
    uint8_t Separator[4] = {};
    int32_t SeparatorLength = 0;
    char Group[4] = {};
    int32_t PaddingCount = 0;  // decoder: the "=" seen so far
};

// Separator kinds: 0 CR LF, 1 CR, 2 LF, anything else none. False when LineLength is below 4
// (the context then encodes without line breaks).
bool Base64EncodeInit(Base64Context& Context, int32_t LineLength, int32_t SeparatorKind);
bool Base64EncodeUpdate(Base64Context& Context, const void* Input, int32_t Size, void* Output, int32_t& OutputSize);
// The last group with its "=" (and a separator when one is set).
bool Base64EncodeFinal(Base64Context& Context, void* Output, int32_t& OutputSize);
bool Base64DecodeInit(Base64Context& Context);
// Tab, LF, CR and space are skipped; any other byte outside the alphabet, or a third "=", is an
// error (false, size 0).
bool Base64DecodeUpdate(Base64Context& Context, const void* Input, int32_t Size, void* Output, int32_t& OutputSize);
// The bytes of a group closed by "=" padding; false when the characters left do not agree
// with the padding seen.
bool Base64DecodeFinal(Base64Context& Context, void* Output, int32_t& OutputSize);
