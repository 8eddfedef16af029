// The library's byte utilities: byte strings and ranges, comparison (constant-time for
// secrets), hexadecimal, the Base64 coder and its lenient decoder, UTF-16 to UTF-8, the string
// converters, paths, the owning object list, elapsed ticks, errors and the DSA signature coder.
#include "crypto/base/SBUtils.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/dsa.h>

#include <array>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "crypto/ASN1TestSupport.h"
#include "platform/Clock.h"

using asn1test::H;
using asn1test::Hex;

namespace {

std::string Encode(const std::string& in, bool lineBreaks) {
    size_t size = 0;
    EXPECT_FALSE(EncodeBase64(in.data(), in.size(), nullptr, lineBreaks, size));
    std::string out(size, '\0');
    EXPECT_TRUE(EncodeBase64(in.data(), in.size(), out.data(), lineBreaks, size));
    out.resize(size);
    return out;
}

struct Decoded {
    int code;
    std::string bytes;
};

Decoded Decode(const std::string& text) {
    std::string out(text.size() + 4, '\xEE');
    size_t size = out.size();
    const int code = DecodeBase64(text.data(), text.size(), out.data(), size);
    out.resize(code == 3 ? 0 : size);
    return {code, out};
}

}  // namespace

TEST(SBUtilsBytes, RangesCopiesAndConversions) {
    const ByteArray a = {1, 2, 3, 4, 5};
    EXPECT_EQ(Hex(ByteArrayToString(a)), "0102030405");
    EXPECT_EQ(StringToByteArray(H("0A0B")), (ByteArray{10, 11}));
    EXPECT_EQ(Hex(ByteArrayRangeToString(a, 1, 2)), "0203");
    EXPECT_EQ(Hex(ByteArrayRangeToString(a, 3, 10)), "0405");
    EXPECT_EQ(ByteArrayRangeToString(a, 5, 1), "");
    struct Case {
        int64_t start, count;
        ByteArray want;
    } cases[] = {{0, 5, {1, 2, 3, 4, 5}},
                 {2, 2, {3, 4}},
                 {4, 9, {5}},
                 {-1, 2, {}},
                 {1, 0, {}},
                 {1, -3, {}},
                 {5, 1, {}}};
    for (const auto& c : cases)
        EXPECT_EQ(CopyBytesRange(a, c.start, c.count), c.want);
    EXPECT_EQ(BufferToString("abc", 2), "ab");
    EXPECT_EQ(BufferToString("abc", 0), "");
    EXPECT_EQ(BufferToString("abc", -1), "");
    EXPECT_EQ(CloneByteArray(a), a);
    std::array<uint8_t, 16> digest{};
    digest[15] = 0x7F;
    EXPECT_EQ(Hex(Digest128ToString(digest)), "0000000000000000000000000000007F");
    EXPECT_EQ(Hex(ReverseByteString(H("01 02 03"))), "030201");
    EXPECT_EQ(Hex(SwapByteOrder16String(H("01 02 03 04"))), "02010403");
    std::string odd = H("01 02 03");
    SwapByteOrder16Buffer(odd.data(), odd.size());
    EXPECT_EQ(Hex(odd), "020103");
    EXPECT_EQ(SwapByteOrder32(0x01020304u), 0x04030201u);
    EXPECT_EQ(ByteSwap32(0xAABBCCDDu), 0xDDCCBBAAu);
    EXPECT_EQ(ByteSwap64(0x0102030405060708ull), 0x0807060504030201ull);
    EXPECT_EQ(Min32(-1, 2), -1);
    EXPECT_EQ(Max64(int64_t(1) << 40, 3), int64_t(1) << 40);
}

TEST(SBUtilsBytes, ClearingWipesThenEmpties) {
    ByteString secret = "password";
    const char* where = secret.data();
    ClearString(secret);
    EXPECT_TRUE(secret.empty());
    // The buffer is kept (clear() does not free), so its old bytes can be inspected.
    EXPECT_EQ(std::string(where, 8), std::string(8, '\0'));
    ByteArray key(32, 0xAB);
    const uint8_t* k = key.data();
    ClearBytes(key);
    EXPECT_TRUE(key.empty());
    EXPECT_EQ(std::vector<uint8_t>(k, k + 32), std::vector<uint8_t>(32, 0));
}

TEST(SBUtilsBytes, ComparisonAndSearch) {
    EXPECT_TRUE(AreByteStringsEqual(H("2B0E03021A"), H("2B0E03021A")));
    EXPECT_FALSE(AreByteStringsEqual(H("2B0E03021A"), H("2B0E03021A00")));
    EXPECT_TRUE(AreBytesEqualToString({0x61, 0x62}, "ab"));
    EXPECT_FALSE(AreBytesEqualToString({0x61}, "ab"));
    EXPECT_TRUE(AreBytesEqualToString({}, ""));
    EXPECT_TRUE(AreBuffersEqual("abc", "abd", 2));
    EXPECT_FALSE(AreBuffersEqual("abc", "abd", 3));
    EXPECT_TRUE(AreBuffersEqualCT("abc", "abc", 3));
    EXPECT_FALSE(AreBuffersEqualCT("abc", "abd", 3));
    EXPECT_TRUE(AreByteStringsEqualCT("mac-value", "mac-value"));
    EXPECT_FALSE(AreByteStringsEqualCT("mac-value", "mac-valuf"));
    EXPECT_FALSE(AreByteStringsEqualCT("mac", "mac-value"));
    EXPECT_TRUE(AreByteStringsEqualCT("", ""));
    const ByteArray hay = StringToByteArray("xxabcxxabc");
    EXPECT_EQ(FindStringInBytes("abc", hay, 0), 2);
    EXPECT_EQ(FindStringInBytes("abc", hay, 3), 7);
    EXPECT_EQ(FindStringInBytes("abc", hay, 8), -1);
    EXPECT_EQ(FindStringInBytes("zz", hay, 0), -1);
    EXPECT_EQ(FindStringInBytes(hay, "abc", 3), 7);
    EXPECT_EQ(FindStringInBytes("", hay, 10), 10);
    EXPECT_EQ(FindStringInBytes("x", hay, -5), 0);
    // A start at the top of the range is simply past the end.
    EXPECT_EQ(FindStringInBytes("c", hay, std::numeric_limits<int64_t>::max()), -1);
    EXPECT_EQ(FindStringInBytes("xxabcxxabcx", hay, 0), -1);
}

TEST(SBUtilsHex, BothDirections) {
    EXPECT_EQ(BufferToHex(H("00 0A FF 7b").data(), 4), "000AFF7B");
    EXPECT_EQ(BufferToHex("", 0), "");
    uint8_t buf[4] = {};
    size_t size = sizeof(buf);
    EXPECT_TRUE(HexToBuffer("0a1B", buf, size));
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(buf[0], 0x0A);
    EXPECT_EQ(buf[1], 0x1B);
    size = 4;
    EXPECT_FALSE(HexToBuffer("abc", buf, size));
    EXPECT_EQ(size, 4u);
    size = 1;
    EXPECT_FALSE(HexToBuffer("0102", buf, size));
    EXPECT_EQ(size, 2u);
    size = 4;
    try {
        HexToBuffer("0G", buf, size);
        ADD_FAILURE() << "no exception";
    } catch (const rtl::EConvertError& e) {
        EXPECT_EQ(e.Message(), "String contains non-hexadecimal characters");
    }
}

TEST(SBUtilsBase64, EncoderForms) {
    struct Case {
        std::string input;
        bool lineBreaks;
        std::string want;
    } cases[] = {
        {"abc", false, "YWJj"},     {std::string(1, '\0'), false, "AA=="},
        {"ab", false, "YWI="},      {"", false, ""},
        {"abcd", true, "YWJjZA=="},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Encode(c.input, c.lineBreaks), c.want);
    // 48 bytes fill one 64-character line without a break; 49 bytes break once.
    EXPECT_EQ(Encode(std::string(48, 'a'), true).find('\n'), std::string::npos);
    const std::string e49 = Encode(std::string(49, 'a'), true);
    EXPECT_EQ(e49.size(), 69u);
    EXPECT_EQ(e49[64], '\n');
    EXPECT_EQ(e49.substr(65), "YQ==");
    // An empty input still asks for 4 bytes.
    size_t size = 3;
    EXPECT_FALSE(EncodeBase64("", 0, nullptr, false, size));
    EXPECT_EQ(size, 4u);
    // The size asked for always suffices.
    for (size_t n = 0; n < 300; ++n) {
        const std::string in(n, char(n));
        size_t need = 0;
        EncodeBase64(in.data(), in.size(), nullptr, true, need);
        std::string out(need, '\0');
        size_t got = need;
        ASSERT_TRUE(EncodeBase64(in.data(), in.size(), out.data(), true, got));
        ASSERT_LE(got, need);
        out.resize(got);
        EXPECT_EQ(Decode(out).bytes, in);
    }
}

TEST(SBUtilsBase64, LenientDecoderCases) {
    struct Case {
        std::string text;
        int code;
        std::string bytes;
    } cases[] = {
        {"YWJj", 0, "abc"},
        {"YW\r\nJj", 0, "abc"},
        {"YW\nJj\n", 0, "abc"},
        {std::string("YW\0Jj", 5), 0, "abc"},
        // A space is not skipped.
        {"YW Jj", 1, ""},
        {"YW*j", 1, ""},
        // "=" is skipped wherever it stands and decoding goes on after it.
        {"YQ==YQ==", 0, H("61 06 10")},
        {"YQ==\r\nYWI=", 0, H("61 06 16")},
        {"YWI=", 0, "ab"},
        {"YWI", 0, "ab"},
        {"", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Decoded d = Decode(c.text);
        EXPECT_EQ(d.code, c.code);
        if (c.code == 0) {
            EXPECT_EQ(Hex(d.bytes), Hex(c.bytes));
        }
    }
    // A short output: code 3 and the size needed plus one.
    size_t size = 0;
    EXPECT_EQ(DecodeBase64("YWJj", 4, nullptr, size), 3);
    EXPECT_EQ(size, 4u);
    // The whole output capacity is cleared first.
    std::string out(8, '\xFF');
    size = out.size();
    EXPECT_EQ(DecodeBase64("YQ==", 4, out.data(), size), 0);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(Hex(out), "6100000000000000");
}

// Texts whose last characters leave a partial byte with bits set (hostile or merely unpadded)
// must not spill that byte past the capacity the size rule accepted.
TEST(SBUtilsBase64, DecoderNeverWritesPastTheCapacityItWasGiven) {
    struct Case {
        const char* text;
        const char* bytes;
    } cases[] = {
        {"R", ""},    {"YR", "61"},    {"YWJ/", "61627F"}, {"YWJjZ", "616263"}, {"YWJjZG/", "616263646F"},
        {"//", "FF"}, {"///", "FFFF"}, {"Y=R", "61"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string text = c.text;
        // The smallest capacity the size rule accepts, followed by guard bytes.
        const size_t capacity = text.size() * 3 / 4;
        std::string out(capacity + 4, '\x5A');
        size_t size = capacity;
        EXPECT_EQ(DecodeBase64(text.data(), text.size(), out.data(), size), 0);
        EXPECT_EQ(Hex(out.substr(0, size)), c.bytes);
        EXPECT_EQ(out.substr(capacity), std::string(4, '\x5A'));
    }
}

TEST(SBUtilsBase64, WideDecoder) {
    const std::string wide = H("59 00 57 00 4A 00 6A 00");
    std::string out(8, '\0');
    size_t size = out.size();
    EXPECT_EQ(DecodeBase64Wide(wide.data(), wide.size(), out.data(), size), 0);
    EXPECT_EQ(out.substr(0, size), "abc");
    size = out.size();
    EXPECT_EQ(DecodeBase64Wide(wide.data(), 7, out.data(), size), 2);
    size = 0;
    EXPECT_EQ(DecodeBase64Wide(wide.data(), wide.size(), out.data(), size), 3);
    EXPECT_EQ(size, 4u);
    // A unit is an alphabet character only when its high byte is zero: U+0141, U+010A and
    // U+0100 are not "A", a line feed and a skipped NUL.
    for (const char* unit : {"41 01", "0A 01", "00 01"}) {
        SCOPED_TRACE(unit);
        const std::string text = H("59 00 57 00") + H(unit) + H("4A 00 6A 00");
        size = out.size();
        EXPECT_EQ(DecodeBase64Wide(text.data(), text.size(), out.data(), size), 1);
    }
}

TEST(SBUtilsUnicode, WideStringToUTF8) {
    struct Case {
        std::u16string text;
        bool lenient;
        int code;
        const char* utf8;
    } cases[] = {
        {u"A\u00E9\u20AC", false, 0, "41C3A9E282AC"},
        {u"\U0001F600", false, 0, "F09F9880"},
        {{0xD800, 0x0041}, false, 3, ""},
        {{0xD800, 0x0041}, true, 0, "EDA08041"},
        {{0x0041, 0xDC00}, false, 3, "41"},
        {{0x0041, 0xDC00}, true, 0, "41EDB080"},
        // A high surrogate at the very end is unpaired too: strict mode promises valid UTF-8.
        {{0xD800}, false, 3, ""},
        {{0x0041, 0xDBFF}, false, 3, "41"},
        {{0xD800}, true, 0, "EDA080"},
        {{0xDBFF, 0xDFFF}, false, 0, "F48FBFBF"},
    };
    for (const auto& c : cases) {
        ByteString out;
        EXPECT_EQ(WideStringToUTF8(c.text, out, c.lenient, false), c.code);
        EXPECT_EQ(Hex(out), c.utf8);
    }
    ByteString out;
    EXPECT_EQ(WideStringToUTF8(u"a", out, false, true), 0);
    EXPECT_EQ(Hex(out), "EFBBBF61");
    EXPECT_EQ(WideStringToUTF8(u"\uFEFFa", out, false, true), 0);
    EXPECT_EQ(Hex(out), "EFBBBF61");
}

TEST(SBUtilsUnicode, ConvertersAndTheGlobalOne) {
    TElStringConverter base;
    EXPECT_THROW(base.AnsiToUTF8("a"), EUnicodeError);
    EXPECT_THROW(base.UTF16ToAnsi("a"), EUnicodeError);
    TElPlatformStringConverter conv;
    try {
        conv.ConvertByCharset("a", "koi8-r");
        ADD_FAILURE() << "no exception";
    } catch (const EUnicodeError& e) {
        EXPECT_EQ(e.Message(), "Unsupported charset");
    }
    EXPECT_EQ(Hex(conv.AnsiToUTF16("Aé")), "4100E900");
    EXPECT_EQ(conv.UTF16ToAnsi(H("41 00 E9 00 42")), "Aé");
    EXPECT_EQ(conv.AnsiToUTF8("café"), "café");
    // A stray byte of an older 8-bit text is taken as the Latin-1 character it stands for.
    EXPECT_EQ(conv.AnsiToUTF8("caf\xE9"), "café");
    EXPECT_EQ(conv.UTF8ToAnsi("ação"), "ação");

    ByteString wide;
    StringToWideBytes("ok", wide);
    EXPECT_EQ(Hex(wide), "6F006B00");
    auto saved = std::move(GlobalStringConverter);
    try {
        StringToWideBytes("ok", wide);
        ADD_FAILURE() << "no exception";
    } catch (const EUnicodeError& e) {
        EXPECT_EQ(e.Message(), "Unicode library not initialized");
    }
    GlobalStringConverter = std::move(saved);
}

TEST(SBUtilsPaths, ParentAndLastElement) {
    struct Case {
        const char* path;
        const char* parent;
        const char* last;
    } cases[] = {
        {"dir/sub\\file.txt", "dir/sub", "file.txt"},
        {"dir\\sub/file.txt", "dir\\sub", "file.txt"},
        {"name", "", "name"},
        {"dir/", "dir", ""},
        {"/file", "", "file"},
        {"", "", ""},
        {"ftp://host/a/b", "ftp://host/a", "b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(ExtractParentPath(c.path), c.parent);
        EXPECT_EQ(ExtractLastPathElement(c.path), c.last);
    }
}

namespace {

struct Counted {
    explicit Counted(int& alive) : alive_(alive) { ++alive_; }
    ~Counted() { --alive_; }
    int& alive_;
};

}  // namespace

TEST(SBUtilsObjectList, OwningListFreesWhatLeavesIt) {
    int alive = 0;
    {
        TSBObjectList<Counted> list;
        auto* a = new Counted(alive);
        list.Add(a);
        list.Add(std::make_unique<Counted>(alive));
        list.Insert(0, new Counted(alive));
        EXPECT_EQ(list.Count(), 3);
        EXPECT_EQ(list.IndexOf(a), 1);
        list.Delete(0);
        EXPECT_EQ(alive, 2);
        list.SetItem(0, new Counted(alive));  // frees a
        EXPECT_EQ(alive, 2);
        EXPECT_EQ(list.IndexOf(a), -1);
        Counted* kept = list.Extract(list.GetItem(1));
        ASSERT_NE(kept, nullptr);
        EXPECT_EQ(list.Count(), 1);
        EXPECT_EQ(alive, 2);
        EXPECT_EQ(list.Extract(kept), nullptr);
        std::unique_ptr<Counted> owned(kept);
        EXPECT_THROW(list.GetItem(1), rtl::EListError);
        EXPECT_THROW(list.Delete(-1), rtl::EListError);
        EXPECT_THROW(list.Insert(3, nullptr), rtl::EListError);
    }
    EXPECT_EQ(alive, 0);

    Counted outside(alive);
    {
        TSBObjectList<Counted> borrowed(false);
        borrowed.Add(&outside);
        borrowed.Clear();
        borrowed.Add(&outside);
    }
    EXPECT_EQ(alive, 1);
}

TEST(SBUtilsObjectList, FreeAndClearEmptiesTheVariableFirst) {
    int alive = 0;
    struct Probe {
        std::unique_ptr<Probe>* var = nullptr;
        bool sawEmpty = false;
        int* alive = nullptr;
        ~Probe() {
            sawEmpty = var && !*var;
            if (sawEmpty) --*alive;
        }
    };
    auto p = std::make_unique<Probe>();
    p->var = &p;
    p->alive = &alive;
    alive = 1;
    FreeAndClear(p);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(alive, 0);
    FreeAndClear(p);  // null: nothing happens
}

TEST(SBUtilsTicks, ElapsedAcrossTheCounterWrap) {
    struct Case {
        uint32_t start, now, elapsed;
    } cases[] = {{5, 10, 5},
                 {7, 7, 0},
                 {10, 5, 0xFFFFFFFBu},
                 {0xFFFFFFF0u, 0x10, 0x20},
                 {0x7FFFFFFF, 0x80000001u, 2},
                 {0x80000000u, 0x7FFFFFFF, 0xFFFFFFFFu}};
    for (const auto& c : cases)
        EXPECT_EQ(GetElapsedTicks(c.start, c.now), c.elapsed);
    plat::ManualClock clock(std::chrono::system_clock::time_point{}, 0xFFFFFF00ull);
    plat::ScopedClock scoped(clock);
    const uint32_t start = plat::GetClock().TickCount();
    clock.Advance(0x200);
    EXPECT_EQ(GetElapsedTicks(start), 0x200u);
}

TEST(SBUtilsErrors, CodesAndClasses) {
    const ECryptoLibraryError plain("failed");
    EXPECT_EQ(plain.ErrorCode, 0);
    const auto coded = ECryptoLibraryError::CreateWithCode("Socket error", 10061);
    EXPECT_EQ(coded.Message(), "Socket error (error code is 10061)");
    EXPECT_EQ(coded.ErrorCode, 10061);
    EXPECT_STREQ(EUnicodeError("x").ClassName(), "EUnicodeError");
    const EOperationCancelledError cancelled(SOperationCancelled);
    const ECryptoLibraryError& asBase = cancelled;
    EXPECT_STREQ(asBase.ClassName(), "EOperationCancelledError");
    EXPECT_FALSE((std::is_base_of_v<ECryptoLibraryError, EEncryptionError>));
}

namespace {
RTL_EXCEPTION(ECodedTestError, ECryptoLibraryError);
}  // namespace

// The socket, TLS and FTPS errors of the secure clients derive from the library's base and are
// raised with a code: they must keep their own class (callers catch them by it) and the code.
TEST(SBUtilsErrors, DerivedErrorsRaisedWithACodeKeepTheirClass) {
    try {
        throw ECodedTestError("Connection refused", 10061);
    } catch (const ECodedTestError& e) {
        EXPECT_EQ(e.Message(), "Connection refused (error code is 10061)");
        EXPECT_EQ(e.ErrorCode, 10061);
        EXPECT_STREQ(e.ClassName(), "ECodedTestError");
    } catch (const std::exception&) {
        ADD_FAILURE() << "caught as another class";
    }
    const ECodedTestError negative("Handshake failed", -3, false);
    EXPECT_EQ(negative.Message(), "Handshake failed (error code is -3)");
    EXPECT_EQ(negative.ErrorCode, -3);
}

TEST(SBUtilsDSA, SignatureCoderRoundTrips) {
    const std::string r = H("00 80 01"), s = H("7F 02");
    size_t blobSize = 0;
    EXPECT_FALSE(EncodeDSASignature(r.data(), r.size(), s.data(), s.size(), nullptr, blobSize));
    EXPECT_EQ(blobSize, r.size() + s.size() + 16);
    std::string blob(blobSize, '\0');
    ASSERT_TRUE(EncodeDSASignature(r.data(), r.size(), s.data(), s.size(), blob.data(), blobSize));
    blob.resize(blobSize);
    EXPECT_EQ(Hex(blob), "3009020300800102027F02");
    // A top bit gets its 00 in front.
    const std::string hi = H("80");
    std::string blob2(32, '\0');
    size_t size2 = blob2.size();
    ASSERT_TRUE(EncodeDSASignature(hi.data(), 1, hi.data(), 1, blob2.data(), size2));
    EXPECT_EQ(Hex(blob2.substr(0, size2)), "30080202008002020080");
    // Leading zero bytes are dropped: DER has one encoding per value.
    const std::string padded = H("00 01"), one = H("01");
    size2 = blob2.size();
    ASSERT_TRUE(EncodeDSASignature(padded.data(), 2, one.data(), 1, blob2.data(), size2));
    EXPECT_EQ(Hex(blob2.substr(0, size2)), "3006020101020101");

    std::string rr(2, '\0'), ss(2, '\0');
    size_t rSize = rr.size(), sSize = ss.size();
    EXPECT_FALSE(DecodeDSASignature(blob.data(), blob.size(), rr.data(), rSize, ss.data(), sSize));
    EXPECT_EQ(rSize, 3u);
    EXPECT_EQ(sSize, 2u);
    rr.resize(3);
    ASSERT_TRUE(DecodeDSASignature(blob.data(), blob.size(), rr.data(), rSize, ss.data(), sSize));
    EXPECT_EQ(Hex(rr), "008001");
    EXPECT_EQ(Hex(ss), "7F02");

    for (const char* bad : {"3006020101020101FF", "300302010105", "31060201010201 01", "3006020101040101",
                            "30090201010201010201 01", "3003020101", "30 06 02 01 01 22 01 01"}) {
        SCOPED_TRACE(bad);
        const std::string b = H(bad);
        size_t x = 8, y = 8;
        char bx[8], by[8];
        EXPECT_FALSE(DecodeDSASignature(b.data(), b.size(), bx, x, by, y));
        EXPECT_EQ(x, 8u);
        EXPECT_EQ(y, 8u);
    }
}

// Other verifiers must take what we sign. For random r and s, with and without leading zero
// bytes and top bits, OpenSSL's decoder reads every signature we write to its end, finds our
// numbers, and writes them back byte for byte: the encoding is the one DER allows.
TEST(SBUtilsDSA, EncoderWritesWhatOpenSSLDecodes) {
    std::mt19937 rng(15);
    auto number = [&] {
        std::string n(size_t(rng() % 33), '\0');  // up to 32 significant bytes, or none
        for (char& c : n)
            c = char(rng());
        if (!n.empty() && rng() % 2 == 0) n[0] = char(n[0] | 0x80);
        return std::string(size_t(rng() % 4), '\0') + n;  // 0..3 leading zero bytes
    };
    auto bn = [](const std::string& bytes) {
        return std::unique_ptr<BIGNUM, decltype(&BN_free)>(
            BN_bin2bn(reinterpret_cast<const unsigned char*>(bytes.data()), int(bytes.size()), nullptr),
            &BN_free);
    };
    int withZeros = 0, withTopBit = 0;
    for (int i = 0; i < 3000; ++i) {
        const std::string r = number(), s = number();
        SCOPED_TRACE(Hex(r) + " " + Hex(s));
        withZeros += !r.empty() && r[0] == '\0';
        withTopBit += r.find_first_not_of('\0') != std::string::npos &&
                      (uint8_t(r[r.find_first_not_of('\0')]) & 0x80) != 0;
        size_t size = 0;
        ASSERT_FALSE(EncodeDSASignature(r.data(), r.size(), s.data(), s.size(), nullptr, size));
        std::string blob(size, '\0');
        ASSERT_TRUE(EncodeDSASignature(r.data(), r.size(), s.data(), s.size(), blob.data(), size));
        blob.resize(size);

        const auto* p = reinterpret_cast<const unsigned char*>(blob.data());
        std::unique_ptr<DSA_SIG, decltype(&DSA_SIG_free)> sig(d2i_DSA_SIG(nullptr, &p, long(blob.size())),
                                                              &DSA_SIG_free);
        ASSERT_NE(sig, nullptr) << "OpenSSL refused " << Hex(blob);
        EXPECT_EQ(p, reinterpret_cast<const unsigned char*>(blob.data()) + blob.size());
        const BIGNUM *gr = nullptr, *gs = nullptr;
        DSA_SIG_get0(sig.get(), &gr, &gs);
        EXPECT_EQ(BN_cmp(gr, bn(r).get()), 0);
        EXPECT_EQ(BN_cmp(gs, bn(s).get()), 0);
        unsigned char* again = nullptr;
        const int n = i2d_DSA_SIG(sig.get(), &again);
        ASSERT_GT(n, 0);
        EXPECT_EQ(Hex(std::string(reinterpret_cast<char*>(again), size_t(n))), Hex(blob));
        OPENSSL_free(again);

        // Our own decoder gives the numbers back.
        std::string rr(64, '\0'), ss(64, '\0');
        size_t rSize = rr.size(), sSize = ss.size();
        ASSERT_TRUE(DecodeDSASignature(blob.data(), blob.size(), rr.data(), rSize, ss.data(), sSize));
        EXPECT_EQ(BN_cmp(bn(rr.substr(0, rSize)).get(), gr), 0);
        EXPECT_EQ(BN_cmp(bn(ss.substr(0, sSize)).get(), gs), 0);
    }
    // Both kinds of input were drawn many times.
    EXPECT_GT(withZeros, 1000);
    EXPECT_GT(withTopBit, 500);
}
