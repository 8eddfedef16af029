// crypto/base/SBUtils.h: the floor of the cryptographic library: its exception family, the
// byte-string types every other unit of the library passes around, and the small conversions
// they all share (hexadecimal, the library's own Base64, UTF-16 to UTF-8, ASN.1 time texts,
// path splitting, byte order), the owning object list, the string converters, and the
// algorithm codes and object identifiers with the lookups between them.
//
// A byte string (ByteString) is the library's universal buffer: any byte values, explicit
// length; an empty one means "no value". ByteArray is used where callers work with arrays.
// Every routine here is reentrant; size shortfalls never raise: they return false (or code 3)
// and the size needed, so callers ask once with size 0 and again with a buffer. A null output
// buffer has no room whatever size comes with it: it is answered as that size question.
//
// Secrets (MACs, paddings, passwords) are compared with AreBuffersEqualCT / AreByteStringsEqualCT,
// whose time depends only on the length; the plain compares may stop at the first difference
// and are meant for public values such as object identifiers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rtl/Exception.h"

using ByteString = std::string;
using ByteArray = std::vector<uint8_t>;

// ---------------------------------------------------------------------------------------------
// Errors

// Base of most of the library's errors; may carry a numeric error code.
class ECryptoLibraryError : public rtl::Exception {
public:
    explicit ECryptoLibraryError(std::string message) : rtl::Exception(std::move(message)) {}
    // With a code: the message gains " (error code is <code>)"; the flag has no effect. Classes
    // declared with RTL_EXCEPTION inherit this form, so a socket or TLS error built with a code
    // keeps its own class: throw EElSocketError(message, code).
    ECryptoLibraryError(const std::string& message, int32_t code, bool flag = false)
        : rtl::Exception(message + " (error code is " + std::to_string(code) + ")"), ErrorCode(code) {
        (void)flag;
    }
    // The same for this class itself (a derived class calling it would get this class, not its
    // own: derived classes use the constructor above).
    static ECryptoLibraryError CreateWithCode(const std::string& message, int32_t code, bool flag = false) {
        return ECryptoLibraryError(message, code, flag);
    }
    const char* ClassName() const noexcept override { return "ECryptoLibraryError"; }

    int32_t ErrorCode = 0;
};

RTL_EXCEPTION(EUnicodeError, ECryptoLibraryError);
RTL_EXCEPTION(EOperationCancelledError, ECryptoLibraryError);
// Derives from the plain exception class, not from ECryptoLibraryError.
RTL_EXCEPTION(EEncryptionError, rtl::Exception);

// Messages of this unit; other units quote them from here.
inline constexpr const char* SUnicodeNotInitialized = "Unicode library not initialized";
inline constexpr const char* SUnsupportedCharset = "Unsupported charset";
inline constexpr const char* SOperationCancelled = "Synchronous operation has been cancelled";
inline constexpr const char* SInvalidKeySize = "Invalid key size [%d bits]";
inline constexpr const char* SInvalidInputSize = "Invalid input block size";

// ---------------------------------------------------------------------------------------------
// Text constants used by the PEM, HTTP and TLS code.

inline constexpr std::string_view SBSpace = " ";
inline constexpr std::string_view SBComma = ",";
inline constexpr std::string_view SBLF = "\n";
inline constexpr std::string_view SBCR = "\r";
inline constexpr std::string_view SBLFLF = "\n\n";
inline constexpr std::string_view SBCRLF = "\r\n";
inline constexpr std::string_view SBCRLFCRLF = "\r\n\r\n";
inline constexpr std::string_view SBCRCRLF = "\r\r\n";
inline constexpr std::string_view SBCRCRLFCRCRLF = "\r\r\n\r\r\n";
inline constexpr std::string_view SBBase64Pad = "=";
inline constexpr std::string_view SBPEMDashes = "-----";
inline constexpr std::string_view SBPEMBegin = "-----BEGIN ";
inline constexpr std::string_view SBPEMEndLine = "\n-----END ";
inline constexpr std::string_view SBUTF8BOM = "\xEF\xBB\xBF";

// Surrogate arithmetic of WideStringToUTF8.
inline constexpr int SBSurrogateShift = 10;
inline constexpr uint32_t SBSurrogateOffset = 0x10000;
inline constexpr char16_t SBHighSurrogateStart = 0xD800, SBHighSurrogateEnd = 0xDBFF;
inline constexpr char16_t SBLowSurrogateStart = 0xDC00, SBLowSurrogateEnd = 0xDFFF;

// ---------------------------------------------------------------------------------------------
// Byte strings and arrays (every routine copies; none keeps a reference to its input)

ByteString ByteArrayToString(const ByteArray& a);
// min(count, length - start) bytes from a 0-based start; empty when nothing is left.
ByteString ByteArrayRangeToString(const ByteArray& a, int64_t start, int64_t count);
ByteArray StringToByteArray(std::string_view s);
// Text passed where bytes are expected: the same string.
ByteString ToByteString(std::string_view text);
// count bytes from p; a count of 0 or less gives the empty string.
ByteString BufferToString(const void* p, int64_t count);
ByteArray CloneByteArray(const ByteArray& a);
// count bytes from a 0-based start, count cut to what is left; a start below 0, a count of 0 or
// less, or nothing left gives an empty array.
ByteArray CopyBytesRange(const ByteArray& a, int64_t start, int64_t count);
ByteString Digest128ToString(std::span<const uint8_t, 16> digest);
ByteString ReverseByteString(std::string_view s);
// The two bytes of every 16-bit unit exchanged; an odd last byte stays where it is.
ByteString SwapByteOrder16String(std::string_view s);
void SwapByteOrder16Buffer(void* p, size_t count);
// Overwrite the contents with zeros, then leave the value empty.
void ClearString(ByteString& s);
void ClearBytes(ByteArray& a);

// Sets the variable to null first and only then frees what it held.
template <class T>
void FreeAndClear(std::unique_ptr<T>& p) {
    std::unique_ptr<T> held(std::move(p));
    p = nullptr;
    held.reset();
}

// ---------------------------------------------------------------------------------------------
// Comparison and search

bool AreByteStringsEqual(std::string_view a, std::string_view b);
bool AreBytesEqualToString(const ByteArray& a, std::string_view s);
bool AreBuffersEqual(const void* p, const void* q, size_t length);
// Constant-time forms for secrets: the time depends only on the lengths.
bool AreBuffersEqualCT(const void* p, const void* q, size_t length);
bool AreByteStringsEqualCT(std::string_view a, std::string_view b);
// First 0-based index at or after start where pattern occurs in a; -1 when there is none.
int64_t FindStringInBytes(std::string_view pattern, const ByteArray& a, int64_t start);
// The same with the array first, the order the certificate and TLS code writes it in.
int64_t FindStringInBytes(const ByteArray& a, std::string_view pattern, int64_t start);

// ---------------------------------------------------------------------------------------------
// Numbers and byte order

uint32_t SwapByteOrder32(uint32_t v);
uint32_t ByteSwap32(uint32_t v);
uint64_t ByteSwap64(uint64_t v);
inline int32_t Min32(int32_t a, int32_t b) {
    return a < b ? a : b;
}
inline int32_t Max32(int32_t a, int32_t b) {
    return a > b ? a : b;
}
inline int64_t Min64(int64_t a, int64_t b) {
    return a < b ? a : b;
}
inline int64_t Max64(int64_t a, int64_t b) {
    return a > b ? a : b;
}

// ---------------------------------------------------------------------------------------------
// Hexadecimal text

// Upper-case, two digits per byte, high nibble first.
std::string BufferToHex(const void* p, size_t count);
// Odd text length: false, size untouched. size below length / 2: false with size := length / 2.
// Otherwise pairs of digits (either case) become bytes and size := length / 2. A character that
// is not a hexadecimal digit raises rtl::EConvertError (bytes before it stay written).
bool HexToBuffer(std::string_view text, void* buffer, size_t& size);

// ---------------------------------------------------------------------------------------------
// Base64 (standard alphabet, "=" padding)

// Needs input size * 4 div 3 + 4 bytes (plus a 32nd of that with line breaks); with a smaller
// output size answers false and the size needed. With lineBreaks a single LF follows every 64
// characters, never after the last.
bool EncodeBase64(const void* input, size_t inputSize, void* output, bool lineBreaks, size_t& outputSize);

enum : int {
    BASE64_DECODE_OK = 0,
    BASE64_DECODE_INVALID_CHARACTER = 1,
    BASE64_DECODE_WRONG_DATA_SIZE = 2,
    BASE64_DECODE_NOT_ENOUGH_SPACE = 3,
};
// Lenient decoder: NUL, CR and LF are skipped, "=" (with the CR and LF after it) is skipped
// wherever it stands, any other character outside the alphabet gives 1. The output capacity is
// cleared first; a capacity below (length - CR/LF count) * 3 div 4 gives 3 and that value + 1.
int DecodeBase64(const void* text, size_t length, void* output, size_t& outputSize);
// The same over UTF-16LE text; a unit whose high byte is not zero is a character outside the
// alphabet (1). An odd byte count gives 2.
int DecodeBase64Wide(const void* text, size_t byteCount, void* output, size_t& outputSize);

// ---------------------------------------------------------------------------------------------
// Time texts. A date-time is the class library's day count (rtl::TDateTime: days since
// 1899-12-30, the time of day as the fraction). Values from the texts are UTC: an offset ("+hhmm"/"-hhmm")
// after the time is applied. Invalid calendar values raise rtl::EConvertError.

// YYMMDDhhmm[ss](Z|+hhmm|-hhmm); YY below 50 means 20YY. Five characters or fewer give 0.
double UTCTimeToDateTime(std::string_view text);
// YYYYMMDDhhmmss[.fff](Z|+hhmm|-hhmm)
double GeneralizedTimeToDateTime(std::string_view text);
// YYYYMMDDhhmmssZ; milliseconds are dropped.
std::string DateTimeToGeneralizedTime(double dateTime);
// The UTC date-time of a local one, with the zone's offset in force at that instant (daylight
// saving included); unchanged when the zone cannot be determined.
double LocalTimeToUTCTime(double dateTime);
// Milliseconds from start to now on the 32-bit tick counter, across its wrap at 2^32.
uint32_t GetElapsedTicks(uint32_t start, uint32_t now);
// The same against the current tick count of the system clock.
uint32_t GetElapsedTicks(uint32_t start);

// ---------------------------------------------------------------------------------------------
// Unicode

enum : int { UTF_CONVERSION_OK = 0, UTF_SOURCE_ILLEGAL = 3 };
// UTF-16 to UTF-8. Strict mode (lenient false): an unpaired surrogate, a high one at the very
// end included, stops with 3, leaving what was converted so far; so a strict result is always
// valid UTF-8. Lenient mode encodes it like any other unit. bom puts EF BB BF in front.
int WideStringToUTF8(std::u16string_view text, ByteString& result, bool lenient, bool bom);
// UTF-16LE bytes of a text in the system code page, through GlobalStringConverter.
void StringToWideBytes(std::string_view text, ByteString& result);

// Base of the character-set converters; every conversion of the base raises EUnicodeError.
class TElStringConverter {
public:
    virtual ~TElStringConverter() = default;
    // Charset name; kept for callers, not read by the conversions.
    std::string DefCharset;

    virtual ByteString ConvertByCharset(std::string_view source, std::string_view charset);
    virtual ByteString AnsiToUTF8(std::string_view text);
    virtual std::string UTF8ToAnsi(std::string_view utf8);
    // UTF-16LE bytes, two per unit.
    virtual ByteString AnsiToUTF16(std::string_view text);
    // From UTF-16LE bytes (an odd last byte is ignored).
    virtual std::string UTF16ToAnsi(std::string_view utf16le);
};

// Converts between the system code page (the locale's, UTF-8 here), UTF-8 and UTF-16LE. Bytes
// that are not valid UTF-8 are taken as Latin-1 characters, so no text is lost.
class TElPlatformStringConverter : public TElStringConverter {
public:
    ByteString ConvertByCharset(std::string_view source, std::string_view charset) override;
    ByteString AnsiToUTF8(std::string_view text) override;
    std::string UTF8ToAnsi(std::string_view utf8) override;
    ByteString AnsiToUTF16(std::string_view text) override;
    std::string UTF16ToAnsi(std::string_view utf16le) override;
};

// Created when the library starts; read-only afterwards.
extern std::unique_ptr<TElStringConverter> GlobalStringConverter;

// ---------------------------------------------------------------------------------------------
// Paths (both "\" and "/" separate; the last one of either kind wins)

std::string ExtractParentPath(std::string_view path);
std::string ExtractLastPathElement(std::string_view path);

// ---------------------------------------------------------------------------------------------
// An ordered list of objects that, when it owns them, frees an item that is deleted, replaced
// or cleared and everything left when the list itself goes. Index errors raise rtl::EListError.
template <class T>
class TSBObjectList {
public:
    TSBObjectList() : ownsObjects_(true) {}
    explicit TSBObjectList(bool ownsObjects) : ownsObjects_(ownsObjects) {}
    static std::unique_ptr<TSBObjectList> Create() { return std::make_unique<TSBObjectList>(true); }
    static std::unique_ptr<TSBObjectList> CreateWithOwnership(bool owns) {
        return std::make_unique<TSBObjectList>(owns);
    }
    ~TSBObjectList() { Clear(); }
    TSBObjectList(const TSBObjectList&) = delete;
    TSBObjectList& operator=(const TSBObjectList&) = delete;

    bool OwnsObjects() const { return ownsObjects_; }
    void SetOwnsObjects(bool v) { ownsObjects_ = v; }
    int Count() const { return int(items_.size()); }

    // The list takes ownership when it owns its items.
    int Add(T* item) {
        items_.push_back(item);
        return Count() - 1;
    }
    int Add(std::unique_ptr<T> item) {
        // Released only once the list holds it, so a failed insertion frees the item.
        items_.push_back(item.get());
        item.release();
        return Count() - 1;
    }
    T* GetItem(int index) const {
        Check(index, Count());
        return items_[size_t(index)];
    }
    T* operator[](int index) const { return GetItem(index); }
    int IndexOf(const T* item) const {
        for (size_t i = 0; i < items_.size(); ++i)
            if (items_[i] == item) return int(i);
        return -1;
    }
    void Insert(int index, T* item) {
        Check(index, Count() + 1);
        items_.insert(items_.begin() + index, item);
    }
    // The replaced item is freed when the list owns it.
    void SetItem(int index, T* item) {
        Check(index, Count());
        T* old = items_[size_t(index)];
        items_[size_t(index)] = item;
        if (old != item) Notify(old);
    }
    void Delete(int index) {
        Check(index, Count());
        T* old = items_[size_t(index)];
        items_.erase(items_.begin() + index);
        Notify(old);
    }
    int Remove(const T* item) {
        const int i = IndexOf(item);
        if (i >= 0) Delete(i);
        return i;
    }
    // Removes the item without freeing it; null when it is not in the list.
    T* Extract(const T* item) {
        const int i = IndexOf(item);
        if (i < 0) return nullptr;
        T* found = items_[size_t(i)];
        items_.erase(items_.begin() + i);
        return found;
    }
    void Clear() {
        std::vector<T*> old;
        old.swap(items_);
        for (T* p : old)
            Notify(p);
    }

private:
    static void Check(int index, int limit) {
        if (index < 0 || index >= limit)
            throw rtl::EListError("List index out of bounds (" + std::to_string(index) + ")");
    }
    void Notify(T* item) {
        if (ownsObjects_ && item) std::unique_ptr<T> freed(item);
    }

    std::vector<T*> items_;
    bool ownsObjects_;
};

// ---------------------------------------------------------------------------------------------
// DSA signatures: SEQUENCE { INTEGER r, INTEGER s }

// The blob must be exactly one SEQUENCE of two primitive INTEGERs. Their contents (leading 00
// kept) are copied out when both sizes suffice; otherwise both sizes are set to the lengths
// needed and the result is false. Any other structure: false, sizes untouched.
bool DecodeDSASignature(const void* blob, size_t size, void* r, size_t& rSize, void* s, size_t& sSize);
// blobSize below rSize + sSize + 16 (or no blob): false with that value. Otherwise writes the
// SEQUENCE with r and s (unsigned big-endian bytes) as minimal DER INTEGERs, whatever leading
// zero bytes they come with.
bool EncodeDSASignature(const void* r, size_t rSize, const void* s, size_t sSize, void* blob,
                        size_t& blobSize);

// ---------------------------------------------------------------------------------------------
// Algorithm codes and object identifiers. An OID is a byte string holding the DER content
// octets of an object identifier (no tag, no length), compared byte for byte. The codes and
// the OID constants live in crypto/base/SBConstants.h.

// Dotted decimal text of an OID; arcs of any real size (up to OIDMaxSubIdentifierOctets octets,
// far past 128-bit UUID arcs). An empty OID gives the empty text, and so does one with a longer
// sub-identifier: turning such a number into decimal costs time quadratic in its length, and
// OIDs come from certificates anyone can write.
inline constexpr size_t OIDMaxSubIdentifierOctets = 128;
std::string OIDToText(std::string_view oid);

int32_t GetAlgorithmByOID(std::string_view oid, bool foldToPublicKey = false);
ByteString GetOIDByAlgorithm(int32_t algorithm);
int32_t GetPKAlgorithmByOID(std::string_view oid);
ByteString GetOIDByPKAlgorithm(int32_t algorithm);
int32_t GetSigAlgorithmByOID(std::string_view oid);
ByteString GetOIDBySigAlgorithm(int32_t algorithm);
int32_t GetHashAlgorithmBySigAlgorithm(int32_t algorithm);
int32_t GetHMACAlgorithmByHashAlgorithm(int32_t algorithm);
int32_t GetPKAlgorithmBySigAlgorithm(int32_t algorithm);
int32_t GetHashAlgorithmByOID(std::string_view oid);
ByteString GetOIDByHashAlgorithm(int32_t algorithm);
int32_t GetPBEAlgorithmByOID(std::string_view oid);
ByteString GetOIDByPBEAlgorithm(int32_t algorithm);
bool IsSymmetricAlgorithm(int64_t algorithm);
bool IsHashAlgorithm(int64_t algorithm);
bool IsMACAlgorithm(int64_t algorithm);
bool IsPublicKeyAlgorithm(int64_t algorithm);
int32_t GetDigestSizeBits(int32_t algorithm);
