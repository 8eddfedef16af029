// The default provider: one instance, made once even when threads race for it; another
// provider type takes over for later calls while the earlier instance keeps working; and
// threads making and releasing keys and contexts on it at the same time (run this binary
// under ThreadSanitizer, KW_TSAN, to check the locking).
#include "crypto/builtin/SBCryptoProvDefault.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "crypto/ProviderTestSupport.h"
#include "crypto/facade/SBSymmetricCrypto.h"

namespace {

using provtest::Bytes;

TEST(DefaultCryptoProvider, OneBuiltInInstanceWithoutOwner) {
    TElCustomCryptoProvider* p = DefaultCryptoProvider();
    EXPECT_EQ(DefaultCryptoProvider(), p);
    EXPECT_NE(dynamic_cast<TElBuiltInCryptoProvider*>(p), nullptr);
    EXPECT_EQ(p->Owner(), nullptr);
}

TEST(DefaultCryptoProvider, AnotherTypeTakesOverAndTheEarlierInstanceLivesOn) {
    TElCustomCryptoProvider* before = DefaultCryptoProvider();
    TElCustomCryptoKey* key = before->CreateKey(SB_ALG_AES128, 0);
    key->SetValue(Bytes(16, 1));
    key->SetIV(Bytes(16, 2));

    SetDefaultCryptoProviderType(&provtest::ForeignProvider::CreateInstance);
    TElCustomCryptoProvider* foreign = DefaultCryptoProvider();
    EXPECT_NE(dynamic_cast<provtest::ForeignProvider*>(foreign), nullptr);
    EXPECT_EQ(DefaultCryptoProvider(), foreign);
    // The earlier instance still works for the keys it made.
    Bytes out(32);
    size_t size = out.size();
    before->Encrypt(SB_ALG_AES128, SB_SYMENC_MODE_CTR, key, Bytes(32, 3).data(), 32, out.data(), size);
    EXPECT_EQ(size, 32u);
    before->ReleaseKey(key);

    TElBuiltInCryptoProvider::SetAsDefault();
    TElCustomCryptoProvider* after = DefaultCryptoProvider();
    EXPECT_NE(dynamic_cast<TElBuiltInCryptoProvider*>(after), nullptr);
    EXPECT_NE(after, foreign);
}

TEST(DefaultCryptoProvider, ThreadsShareItSafely) {
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::vector<TElCustomCryptoProvider*> seen(kThreads, nullptr);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (ready.load() < kThreads) std::this_thread::yield();
            seen[size_t(t)] = DefaultCryptoProvider();
            for (int i = 0; i < 100; ++i) {
                TElSymmetricKeyMaterial material;
                material.SetKey(Bytes(16, uint8_t(t)));
                material.SetIV(Bytes(16, uint8_t(i)));
                auto c = TElSymmetricCrypto::CreateByAlgorithm(SB_ALG_AES128, SYMMETRIC_MODE_CBC);
                c->SetKeyMaterial(&material);
                const Bytes message(37, uint8_t(i));
                size_t size = 0;
                c->Encrypt(message.data(), message.size(), nullptr, size);
                Bytes cipher(size);
                c->Encrypt(message.data(), message.size(), cipher.data(), size);
                Bytes back(size);
                c->Decrypt(cipher.data(), size, back.data(), size);
                back.resize(size);
                if (back != message) ++failures;
                TElCustomCryptoProvider* p = DefaultCryptoProvider();
                TElCustomCryptoContext* h = p->HashInit(SB_ALG_SHA256, nullptr);
                p->HashUpdate(h, message.data(), message.size());
                if (p->HashFinal(h).size() != 32) ++failures;
                p->ReleaseCryptoContext(h);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
    for (TElCustomCryptoProvider* p : seen)
        EXPECT_EQ(p, seen[0]);
    auto* builtIn = dynamic_cast<TElBuiltInCryptoProvider*>(seen[0]);
    ASSERT_NE(builtIn, nullptr);
    EXPECT_EQ(builtIn->ContextCount(), 0u);
}

}  // namespace
