// net/IdGlobal.h: the small shared vocabulary of the internet library.
//
// TBytes (the byte array every buffer, read and write passes) and its conversions, the text
// cutting and searching helpers the protocol parsers use, the canonical text of IPv6
// addresses, a 32-bit millisecond tick counter with wrap-around arithmetic over plat::Clock,
// thread naming, and two thin classes. Text is 8-bit (UTF-8 bytes): one character is one
// byte, and no byte is a lead byte, so every search is a plain byte search.
//
// Every index or count given to these helpers is checked: a range outside an array raises
// EIdException naming the helper; nothing here reads or writes outside an array.
#pragma once

#include <array>
#include <exception>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "net/IdException.h"
#include "rtl/Stream.h"

using TBytes = std::vector<uint8_t>;

RTL_EXCEPTION(EIdFailedToRetreiveTimeZoneInfo, EIdException);

// Eight 16-bit words, first word first.
using TIdIPv6Address = std::array<uint16_t, 8>;

enum TIdMaxLineAction { maException, maSplit };
enum TIdIPVersion { Id_IPv4, Id_IPv6 };

// How text becomes bytes. enNone means no encoding was given and is refused; every caller
// passes en8Bit: one byte per character, unchanged.
enum TIdTextEncoding { enNone = 0, en8Bit = 1 };

// The library's critical section: re-entrant, as the original's is.
class TIdCriticalSection {
public:
    void Acquire() { mutex_.lock(); }
    void Release() { mutex_.unlock(); }
    // For std::lock_guard.
    void lock() { Acquire(); }
    void unlock() { Release(); }

private:
    std::recursive_mutex mutex_;
};

// Runs f when the scope ends, however it ends: the library's undo for a step that must
// happen after success and failure alike. On the normal path a failure of f passes on; while
// another failure is on its way out, that first failure is the one reported and a failure of
// f is dropped (a second exception would end the program).
template <typename F>
struct TIdFinally {
    F f;
    int pending = std::uncaught_exceptions();
    ~TIdFinally() noexcept(false) {
        if (std::uncaught_exceptions() == pending) {
            f();
            return;
        }
        try {
            f();
        } catch (...) {
        }
    }
};
template <typename F>
TIdFinally(F) -> TIdFinally<F>;

// A memory stream made from a text.
class TIdStringStream : public rtl::MemoryStream {
public:
    explicit TIdStringStream(std::string text) : rtl::MemoryStream(std::move(text)) {}
};

// Byte arrays. Integers are copied in host order (little-endian); network order is the
// caller's business.
TBytes TextToBytes(std::string_view text, TIdTextEncoding encoding = en8Bit);
TBytes CharToBytes(char c);
TBytes ByteToBytes(uint8_t b);
TBytes Int16ToBytes(int16_t v);
TBytes Int32ToBytes(int32_t v);
TBytes Cardinal32ToBytes(uint32_t v);
// The first count bytes of src (EIdException when src holds fewer).
TBytes CopyBytesPrefix(const TBytes& src, int32_t count);
// count bytes from src[srcIndex] to dst[dstIndex]; both ranges must lie inside their arrays.
void CopyBytes(const TBytes& src, int32_t srcIndex, TBytes& dst, int32_t count, int32_t dstIndex);
void AppendBytes(TBytes& dst, std::span<const uint8_t> src);
// Stores v in the first 4 bytes (EIdException when dst holds fewer).
void WriteInt32ToBytes(TBytes& dst, int32_t v);
// The first 4 bytes as a host-order value (EIdException when there are fewer).
int32_t FirstInteger(const TBytes& bytes);
// Copies the first 16 bytes (network order words) into the address when there are 16 or more.
void CopyIPv6Bytes(const TBytes& bytes, TIdIPv6Address& address);
// At most count bytes from start as text; "Index out of bounds." for a start outside a
// non-empty array (or a non-zero start of an empty one).
std::string BytesToText(const TBytes& bytes, int32_t start = 0, int32_t count = -1);
// Reads up to min(count, length of bytes) bytes into the start of bytes; returns the count read.
int32_t ReadStreamToBytes(rtl::Stream& stream, TBytes& bytes, int32_t count);

// Text.
// Cuts text at the first delimiter: gives what precedes it; with remove, text keeps only what
// follows the delimiter (or becomes empty when there is none).
std::string CutAtDelimiter(std::string& text, std::string_view delimiter, bool remove, bool caseSensitive);
std::string CutAtDelimiterAnyCase(std::string& text, std::string_view delimiter, bool remove);
int IndexInTextArray(std::string_view text, std::span<const std::string_view> list, bool caseSensitive);
int IndexInTextArray(std::string_view text, std::initializer_list<std::string_view> list, bool caseSensitive);
bool TextIsSame(std::string_view a, std::string_view b);
// 1-based position of sub in text, 0 when absent (an empty sub is never found).
int TextPos(std::string_view sub, std::string_view text);
// Whether the byte at the 1-based position is one of set's bytes; false beyond the end.
bool CharIsInSet(std::string_view text, int position, std::string_view set);
inline std::string IfThenText(bool flag, std::string_view a, std::string_view b = {}) {
    return std::string(flag ? a : b);
}
inline int32_t MinInt(int32_t a, int32_t b) { return a < b ? a : b; }
std::string WithTrailingPathDelimiter(std::string_view path);
bool IsOctalText(std::string_view text);
bool IsHexText(std::string_view text);
bool IsIntegerText(std::string_view text);

// IPv6 text (RFC 4291, section 2.2): the canonical form (upper-case groups without leading
// zeros, never shortened; a dotted IPv4 tail as two groups of two-digit bytes), or empty
// text when the input is no valid IPv6 address.
std::string NormalizeIPv6Text(std::string_view text);
// ":" and four upper-case hexadecimal digits per word: 40 characters.
std::string IPv6WordsToText(const TIdIPv6Address& address);

// Time and threads.
uint32_t GetTickCountHighRes();
// Elapsed count between two readings of the wrapping 32-bit counter.
inline uint32_t TickDiff(uint32_t oldTicks, uint32_t newTicks) { return newTicks - oldTicks; }
void SleepMs(uint32_t ms);
uint64_t GetCurrentThreadIdentifier();
// Names the calling thread (the kernel keeps the first 15 bytes).
void SetThreadNameForDebugger(std::string_view name);
