// tests/crypto/ProviderTestSupport.h: what the provider, engine and facade tests share: keys
// made on a provider, an engine or facade run fed in random update sizes, PKCS#5 padding
// written by the test itself, an event recorder that checks create and destroy events pair
// up, and a provider of another class for the "foreign provider" cases.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <typeinfo>
#include <vector>

#include "crypto/builtin/SBCryptoProvBuiltIn.h"
#include "crypto/builtin/SBCryptoProvBuiltInSym.h"
#include "crypto/prov/SBCryptoProv.h"

// The statement raises exactly that class (not a subclass or a class of the same name in
// another unit) with exactly that message.
#define KW_EXPECT_RAISES(statement, Class, message)                                            \
    do {                                                                                       \
        try {                                                                                  \
            statement;                                                                         \
            ADD_FAILURE() << #statement " raised nothing; expected " #Class ": " << (message); \
        } catch (const Class& e) {                                                             \
            EXPECT_EQ(typeid(e), typeid(Class)) << "raised " << e.ClassName();                 \
            EXPECT_EQ(e.Message(), std::string(message));                                      \
        }                                                                                      \
    } while (0)

namespace provtest {

using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(const ByteString& s) {
    return Bytes(s.begin(), s.end());
}
inline ByteString ToString(const Bytes& b) {
    return ByteString(b.begin(), b.end());
}

inline Bytes Random(std::mt19937& rng, size_t n) {
    Bytes v(n);
    for (auto& b : v)
        b = uint8_t(rng());
    return v;
}

// A symmetric key of the provider with the given value and IV.
inline TElCustomCryptoKey* SymmetricKey(TElCustomCryptoProvider& provider, int32_t code, const Bytes& value,
                                        const Bytes& iv, int32_t mode = 0) {
    TElCustomCryptoKey* key = provider.CreateKey(code, mode);
    key->SetValue(value);
    key->SetIV(iv);
    return key;
}

// Piece sizes that add up to n: random, with empty pieces now and then.
inline std::vector<size_t> RandomPieces(std::mt19937& rng, size_t n) {
    std::vector<size_t> pieces;
    while (n > 0) {
        const size_t piece = std::min<size_t>(n, rng() % 5 == 0 ? 0 : rng() % 41);
        pieces.push_back(piece);
        n -= piece;
    }
    return pieces;
}

// Runs the engine over the whole message in the given pieces, asking each call for its size
// first, and finalises.
inline Bytes RunEngine(TElBuiltInSymmetricCrypto& engine, bool encrypt, const Bytes& data,
                       const std::vector<size_t>& pieces) {
    if (encrypt)
        engine.InitializeEncryption();
    else
        engine.InitializeDecryption();
    Bytes out;
    size_t at = 0;
    for (size_t piece : pieces) {
        size_t size = 0;
        if (encrypt)
            engine.EncryptUpdate(data.data() + at, piece, nullptr, size);
        else
            engine.DecryptUpdate(data.data() + at, piece, nullptr, size);
        Bytes chunk(size + 1);
        size_t room = chunk.size();
        if (encrypt)
            engine.EncryptUpdate(data.data() + at, piece, chunk.data(), room);
        else
            engine.DecryptUpdate(data.data() + at, piece, chunk.data(), room);
        EXPECT_LE(room, size) << "an update wrote more than it said it would";
        out.insert(out.end(), chunk.begin(), chunk.begin() + std::min(room, chunk.size()));
        at += piece;
    }
    size_t size = 0;
    if (encrypt)
        engine.FinalizeEncryption(nullptr, size);
    else
        engine.FinalizeDecryption(nullptr, size);
    Bytes tail(size + 16);
    size_t room = tail.size();
    if (encrypt)
        engine.FinalizeEncryption(tail.data(), room);
    else
        engine.FinalizeDecryption(tail.data(), room);
    EXPECT_LE(room, size);
    out.insert(out.end(), tail.begin(), tail.begin() + std::min(room, tail.size()));
    return out;
}

// RFC 8018 section 6.1.1, written out here so the peers can run without padding.
inline Bytes Pad(Bytes data, size_t block) {
    const size_t n = block - data.size() % block;
    data.insert(data.end(), n, uint8_t(n));
    return data;
}

// Records the provider's create and destroy events and checks they pair up.
class EventLog {
public:
    explicit EventLog(TElCustomCryptoProvider& provider) : provider_(provider) {
        provider.OnCreateObject = [this](TElCustomCryptoProvider*, TElCustomCryptoProvider::TElCryptoObject o) {
            ++created;
            ++live[Address(o)];
        };
        provider.OnDestroyObject = [this](TElCustomCryptoProvider*, TElCustomCryptoProvider::TElCryptoObject o) {
            ++destroyed;
            --live[Address(o)];
            order.push_back(o.index());
        };
    }
    ~EventLog() {
        provider_.OnCreateObject = nullptr;
        provider_.OnDestroyObject = nullptr;
    }
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // True when every object created has been destroyed exactly once.
    bool Balanced() const {
        for (const auto& [address, count] : live)
            if (count != 0) return false;
        return created == destroyed;
    }

    int created = 0;
    int destroyed = 0;
    // 0 for a key, 1 for a context, in the order they were destroyed.
    std::vector<size_t> order;

private:
    static const void* Address(const TElCustomCryptoProvider::TElCryptoObject& o) {
        return std::visit([](auto* p) -> const void* { return p; }, o);
    }
    TElCustomCryptoProvider& provider_;
    std::map<const void*, int> live;
};

// A context of no provider's making: it answers nothing of interest and estimates n + extra
// bytes for n. Stands for a context a provider does not know, or one a test double hands out.
class PlainContext final : public TElCustomCryptoContext {
public:
    explicit PlainContext(TElCustomCryptoProvider* provider, int64_t extra = 0)
        : TElCustomCryptoContext(provider), extra_(extra) {}
    int32_t GetAlgorithm() const override { return 0; }
    int32_t GetAlgorithmClass() const override { return SB_ALGCLASS_NONE; }
    int32_t GetKeySize() const override { return 0; }
    void SetKeySize(int32_t) override {}
    int32_t GetBlockSize() const override { return 0; }
    void SetBlockSize(int32_t) override {}
    int32_t GetDigestSize() const override { return 0; }
    void SetDigestSize(int32_t) override {}
    int32_t GetMode() const override { return 0; }
    void SetMode(int32_t) override {}
    int32_t GetPadding() const override { return 0; }
    void SetPadding(int32_t) override {}
    ByteString GetContextProp(std::string_view, std::string_view d) const override { return ByteString(d); }
    void SetContextProp(std::string_view, std::string_view) override {}
    TElCustomCryptoContext* Clone() override { return nullptr; }
    int64_t EstimateOutputSize(int64_t n) override { return n + extra_; }

private:
    int64_t extra_;
};

// A provider of another class: it knows no algorithm. Keys made for it (by the tests
// themselves) stand for keys of a foreign provider; tests derive from it to watch calls.
class ForeignProvider : public TElLibraryCryptoProvider {
public:
    explicit ForeignProvider(rtl::Component* owner = nullptr) : TElLibraryCryptoProvider(owner) { Init(); }
    ~ForeignProvider() override { Done(); }
    static std::unique_ptr<TElCustomCryptoProvider> CreateInstance(rtl::Component* owner) {
        return std::make_unique<ForeignProvider>(owner);
    }

    int32_t GetAlgorithmClass(int32_t) override { return SB_ALGCLASS_NONE; }
    int32_t GetAlgorithmClassByOID(std::string_view, std::string_view) override { return SB_ALGCLASS_NONE; }
    TElCustomCryptoKey* CreateKey(int32_t, int32_t, const TElRelativeDistinguishedName*) override { return nullptr; }
    TElCustomCryptoKey* CreateKeyByOID(std::string_view, std::string_view,
                                       const TElRelativeDistinguishedName*) override {
        return nullptr;
    }
    TElCustomCryptoKey* CloneKey(TElCustomCryptoKey*) override { return nullptr; }
    void ReleaseKey(TElCustomCryptoKey*&) override {}
    void DeleteKey(TElCustomCryptoKey*&) override {}
    TElCustomCryptoKey* DecryptKey(const void*, size_t, std::string_view, std::string_view, TElCustomCryptoKey*,
                                   std::string_view, std::string_view, const TElRelativeDistinguishedName*,
                                   const TSBProgressFunc&, void*) override {
        return nullptr;
    }
    TElCustomCryptoContext* EncryptInit(int32_t, int32_t, TElCustomCryptoKey*, const TElRelativeDistinguishedName*,
                                        const TSBProgressFunc&, void*) override { return nullptr; }
    TElCustomCryptoContext* EncryptInitByOID(std::string_view, std::string_view, int32_t, TElCustomCryptoKey*,
                                             const TElRelativeDistinguishedName*, const TSBProgressFunc&,
                                             void*) override { return nullptr; }
    TElCustomCryptoContext* DecryptInit(int32_t, int32_t, TElCustomCryptoKey*, const TElRelativeDistinguishedName*,
                                        const TSBProgressFunc&, void*) override { return nullptr; }
    TElCustomCryptoContext* DecryptInitByOID(std::string_view, std::string_view, int32_t, TElCustomCryptoKey*,
                                             const TElRelativeDistinguishedName*, const TSBProgressFunc&,
                                             void*) override { return nullptr; }
    TElCustomCryptoContext* SignInit(int32_t, TElCustomCryptoKey*, bool, const TElRelativeDistinguishedName*,
                                     const TSBProgressFunc&, void*) override { return nullptr; }
    TElCustomCryptoContext* SignInitByOID(std::string_view, std::string_view, TElCustomCryptoKey*, bool,
                                          const TElRelativeDistinguishedName*, const TSBProgressFunc&,
                                          void*) override { return nullptr; }
    TElCustomCryptoContext* VerifyInit(int32_t, TElCustomCryptoKey*, const void*, size_t,
                                       const TElRelativeDistinguishedName*, const TSBProgressFunc&,
                                       void*) override { return nullptr; }
    TElCustomCryptoContext* VerifyInitByOID(std::string_view, std::string_view, TElCustomCryptoKey*, const void*,
                                            size_t, const TElRelativeDistinguishedName*, const TSBProgressFunc&,
                                            void*) override { return nullptr; }
    TElCustomCryptoContext* HashInit(int32_t, TElCustomCryptoKey*, const TElRelativeDistinguishedName*,
                                     const TSBProgressFunc&, void*) override { return nullptr; }
    TElCustomCryptoContext* HashInitByOID(std::string_view, std::string_view, TElCustomCryptoKey*,
                                          const TElRelativeDistinguishedName*, const TSBProgressFunc&,
                                          void*) override { return nullptr; }
    void EncryptUpdate(TElCustomCryptoContext*, const void*, size_t, void*, size_t&,
                       const TElRelativeDistinguishedName*, const TSBProgressFunc&, void*) override {}
    void DecryptUpdate(TElCustomCryptoContext*, const void*, size_t, void*, size_t&,
                       const TElRelativeDistinguishedName*, const TSBProgressFunc&, void*) override {}
    void SignUpdate(TElCustomCryptoContext*, const void*, size_t, void*, size_t&,
                    const TElRelativeDistinguishedName*, const TSBProgressFunc&, void*) override {}
    void VerifyUpdate(TElCustomCryptoContext*, const void*, size_t, void*, size_t&,
                      const TElRelativeDistinguishedName*, const TSBProgressFunc&, void*) override {}
    void EncryptFinal(TElCustomCryptoContext*, void*, size_t&, const TElRelativeDistinguishedName*,
                      const TSBProgressFunc&, void*) override {}
    void DecryptFinal(TElCustomCryptoContext*, void*, size_t&, const TElRelativeDistinguishedName*,
                      const TSBProgressFunc&, void*) override {}
    void SignFinal(TElCustomCryptoContext*, void*, size_t&, const TElRelativeDistinguishedName*,
                   const TSBProgressFunc&, void*) override {}
    int32_t VerifyFinal(TElCustomCryptoContext*, void*, size_t&, const TElRelativeDistinguishedName*,
                        const TSBProgressFunc&, void*) override {
        return SB_VR_INVALID_SIGNATURE;
    }
    ByteString HashFinal(TElCustomCryptoContext*, const TElRelativeDistinguishedName*, const TSBProgressFunc&,
                         void*) override {
        return {};
    }
    void HashUpdate(TElCustomCryptoContext*, const void*, size_t, const TElRelativeDistinguishedName*,
                    const TSBProgressFunc&, void*) override {}
    void ReleaseCryptoContext(TElCustomCryptoContext*&) override {}
    void RandomInit(const void*, size_t, const TElRelativeDistinguishedName*) override {}
    void RandomSeed(const void*, size_t) override {}
    void RandomGenerate(void*, size_t) override {}
    int32_t RandomNum(int32_t) override { return 0; }
};

}  // namespace provtest
