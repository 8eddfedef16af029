// crypto/pk/SBPKIAsync.cpp: the calculator, its tokens and their worker (see the header).
//
// A token's states: made (no thread; running_ false, started_ false), running (started_ and
// running_ true; the worker owns the slots), finished (running_ false; the slots hold the
// results when success_ is true), spent (used_ true after an End). Start moves made to running,
// the worker's ThreadFinished moves running to finished, Consume moves finished to spent; Cancel
// before Start marks the token started so it never runs.
#include "crypto/pk/SBPKIAsync.h"

#include "crypto/pk/PublicKeyMath.h"
#include "crypto/pk/SBDSA.h"
#include "crypto/pk/SBElgamal.h"
#include "crypto/pk/SBRSA.h"
#include "platform/Thread.h"

struct TElPublicKeyCalculatorRegistry {
    std::mutex lock;
    std::set<TElPublicKeyComputationToken*> tokens;
    bool alive = true;
    // Written by workers, read by the calculator's owner.
    std::atomic<bool> priorityRaiseRefused{false};
};

namespace {

// The niceness step of each priority, in the order of TThreadPriority; the ends go past the
// scale and are cut to it.
constexpr int kNiceSteps[] = {+40, +10, +5, 0, -5, -10, -40};

// Moves the calling thread by the priority's step. False only when a raise was refused; the
// thread then keeps its niceness.
bool ApplyPriority(TThreadPriority priority) {
    const int step = kNiceSteps[size_t(priority)];
    if (step == 0) return true;
    const uint64_t self = plat::CurrentThreadId();
    const std::optional<int> nice = plat::ThreadNice(self);
    if (!nice) return true;
    return plat::SetThreadNice(self, *nice + step) || step > 0;
}

}  // namespace

// The worker of one token: runs the token's job on its own thread and reports to the token.
class TElPublicKeyComputationThread {
public:
    TElPublicKeyComputationThread(TElPublicKeyComputationToken* token, int32_t bits) : token_(token), bits_(bits) {}

    void Execute() {
        if (!ApplyPriority(priority) && token_->registry_) token_->registry_->priorityRaiseRefused = true;
        bool success = false;
        try {
            success = Run();
        } catch (...) {
            // A cancelled exponentiation or a failed generation: the token ends unsuccessful.
            success = false;
        }
        token_->ThreadFinished(success);
    }
    void Terminate() { terminated_ = true; }
    // The progress callback of every long operation of the job.
    bool IsNotTerminated() const { return !terminated_; }

    BigNumPtr g = MakeBigNum(), y = MakeBigNum();
    // Set by the token's Start from its calculator, before the thread runs.
    TThreadPriority priority = TThreadPriority::Normal;

private:
    bool Run();
    MathProgressCallback Progress() {
        return [this](void*) { return IsNotTerminated(); };
    }

    TElPublicKeyComputationToken* token_;
    const int32_t bits_;
    std::atomic<bool> terminated_{false};
};

bool TElPublicKeyComputationThread::Run() {
    using Token = TElPublicKeyComputationToken;
    const MathProgressCallback progress = Progress();
    auto exp = [&](const BigNum* base, const BigNum* e, const BigNum* m, BigNum* r) {
        ExponentiateBigNumMontgomery(base, e, m, r, progress, nullptr, true);
    };
    switch (token_->kind_) {
        case Token::ElgamalEncryption: {
            // slot 2 p; slot 1 := g^k, slot 5 := y^k.
            const BigNum* p = token_->Slot(2);
            const BigNumPtr k = MakeBigNum();
            DrawElgamalNonce(p, 0, k.get(), nullptr);
            exp(g.get(), k.get(), p, token_->Slot(1));
            exp(y.get(), k.get(), p, token_->Slot(5));
            return IsNotTerminated();
        }
        case Token::ElgamalSigning: {
            // slot 2 p; slot 6 := p - 1, slot 8 := k^-1 mod (p - 1), slot 1 := g^k.
            const BigNum* p = token_->Slot(2);
            const BigNumPtr k = MakeBigNum();
            SubtractWordFromBigNum(p, 1, token_->Slot(6));
            token_->Slot(6)->NonNegative = true;
            DrawElgamalNonce(p, 0, k.get(), token_->Slot(8));
            exp(g.get(), k.get(), p, token_->Slot(1));
            return IsNotTerminated();
        }
        case Token::DSASigning: {
            // slot 1 p, slot 2 q; slot 8 := k uniform in 1 .. q - 1, slot 6 := g^k mod p,
            // slot 7 := r = slot 6 mod q, drawn again while r = 0.
            const BigNum* p = token_->Slot(1);
            const BigNum* q = token_->Slot(2);
            do {
                pkmath::RandomBelow(q, token_->Slot(8));
                exp(g.get(), token_->Slot(8), p, token_->Slot(6));
                ReduceBigNumBySubtraction(token_->Slot(6), q, token_->Slot(7));
            } while (IsBigNumZero(token_->Slot(7)));
            return IsNotTerminated();
        }
        case Token::Prime:
            return GenerateBigNumPrime(token_->Slot(1), bits_ / 32, false, true, progress, nullptr);
        case Token::DSAKey: {
            const int32_t d = bits_ / 8 + 4;
            rtl::SecureBytes v[5], blob(size_t(4 * d + 85));
            int32_t sizes[5] = {d, 20, d, d, d}, blobSize = int32_t(blob.size());
            for (int i = 0; i < 5; ++i)
                v[i].resize(size_t(d));
            if (!GenerateDSAKey(bits_, v[0].data(), sizes[0], v[1].data(), sizes[1], v[2].data(), sizes[2],
                                v[3].data(), sizes[3], v[4].data(), sizes[4], blob.data(), blobSize, progress, nullptr))
                throw EElPublicKeyAsyncCalculatorError(SDSAGenerationFailed);
            for (int i = 0; i < 5; ++i) {
                LoadBigNumFromBytes(token_->Slot(i + 1), v[i].data(), sizes[i]);
                token_->Slot(i + 1)->NonNegative = true;
            }
            blob.resize(size_t(blobSize));
            token_->keyBlob_ = blob;
            return true;
        }
        case Token::RSAKey: {
            const int32_t bytes = bits_ / 8;
            const size_t size = size_t(bytes) + 4;
            rtl::SecureBytes n(size), e(size), d(size), blob(size_t(4 * bytes + bytes / 2 + 70));
            int32_t ns = int32_t(size), es = ns, ds = ns, bs = int32_t(blob.size());
            if (!GenerateRSAKey(bits_, n.data(), ns, e.data(), es, d.data(), ds, blob.data(), bs, progress, nullptr))
                throw EElPublicKeyAsyncCalculatorError(SRSAGenerationFailed);
            blob.resize(size_t(bs));
            rtl::SecureBytes v[8];
            int32_t vs[8];
            for (int i = 0; i < 8; ++i) {
                v[i].resize(size_t(bs));
                vs[i] = bs;
            }
            if (!DecodeRSAPrivateKeyComponents(blob.data(), bs, v[0].data(), vs[0], v[1].data(), vs[1], v[2].data(),
                                               vs[2], v[3].data(), vs[3], v[4].data(), vs[4], v[5].data(), vs[5],
                                               v[6].data(), vs[6], v[7].data(), vs[7]))
                throw EElPublicKeyAsyncCalculatorError(SRSAPrivateKeyDecodingFailed);
            // Slots 1 n, 2 d, 3 e, 4 p, 5 q, 6 dP, 7 dQ, 8 qInv (the blob's order is n, e, d, ...).
            const int order[8] = {1, 3, 2, 4, 5, 6, 7, 8};
            for (int i = 0; i < 8; ++i) {
                LoadBigNumFromBytes(token_->Slot(order[i]), v[i].data(), vs[i]);
                token_->Slot(order[i])->NonNegative = true;
            }
            token_->keyBlob_ = blob;
            return true;
        }
        case Token::ElgamalKey:
            if (!GenerateElgamalKey(bits_, token_->Slot(2), token_->Slot(5), token_->Slot(6), token_->Slot(7), progress,
                                    nullptr))
                throw EElPublicKeyAsyncCalculatorError(SElgamalGenerationFailed);
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Token

TElPublicKeyComputationToken::TElPublicKeyComputationToken(Kind kind, TElPublicKeyAsyncCalculator* calculator,
                                                           int32_t bits)
    : kind_(kind), calculator_(calculator) {
    for (BigNumPtr& slot : slots_)
        slot = MakeBigNum();
    worker_ = std::make_unique<TElPublicKeyComputationThread>(this, bits);
    if (calculator != nullptr) {
        registry_ = calculator->registry_;
        calculator->AddToken(this);
    }
}

TElPublicKeyComputationToken::~TElPublicKeyComputationToken() {
    if (registry_) {
        std::lock_guard<std::mutex> guard(registry_->lock);
        registry_->tokens.erase(this);
        calculator_ = nullptr;
    }
    Cancel();
}

void TElPublicKeyComputationToken::Start() {
    // The calculator's list lock is taken before the token's, never inside it.
    TThreadPriority priority = TThreadPriority::Normal;
    if (registry_) {
        std::lock_guard<std::mutex> guard(registry_->lock);
        if (calculator_ != nullptr) priority = calculator_->Priority;
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (started_) return;
    worker_->priority = priority;
    started_ = running_ = true;
    thread_ = std::thread([this] { worker_->Execute(); });
}

void TElPublicKeyComputationToken::Terminate() {
    worker_->Terminate();
}

void TElPublicKeyComputationToken::WaitFor() {
    std::unique_lock<std::mutex> guard(lock_);
    done_.wait(guard, [this] { return !running_; });
    // The worker touches nothing of the token after ThreadFinished, so joining under the lock
    // cannot wait on it; the lock keeps two waiters from joining at once.
    if (thread_.joinable()) thread_.join();
}

void TElPublicKeyComputationToken::Cancel() {
    Terminate();
    {
        std::lock_guard<std::mutex> guard(lock_);
        started_ = true;  // a token cancelled before it started never runs
    }
    WaitFor();
}

bool TElPublicKeyComputationToken::GetFinished() const {
    std::lock_guard<std::mutex> guard(lock_);
    return !running_;
}

bool TElPublicKeyComputationToken::GetSuccess() const {
    std::lock_guard<std::mutex> guard(lock_);
    return success_;
}

TElPublicKeyAsyncCalculator* TElPublicKeyComputationToken::GetCalculator() const {
    if (!registry_) return nullptr;
    std::lock_guard<std::mutex> guard(registry_->lock);
    return calculator_;
}

const BigNum* TElPublicKeyComputationToken::GetSlot(int index) const {
    if (index < 1 || index > 8) throw EElPublicKeyAsyncCalculatorError("Invalid token slot");
    return slots_[size_t(index - 1)].get();
}

void TElPublicKeyComputationToken::ThreadFinished(bool success) {
    std::lock_guard<std::mutex> guard(lock_);
    success_ = success;
    running_ = false;
    done_.notify_all();
}

void TElPublicKeyComputationToken::Consume(Kind kind, const char* wrongKind) {
    if (kind_ != kind) throw EElPublicKeyAsyncCalculatorError(wrongKind);
    WaitFor();
    std::lock_guard<std::mutex> guard(lock_);
    if (!success_) throw EElPublicKeyAsyncCalculatorError(SPublicKeyComputationCanceled);
    if (used_) throw EElPublicKeyAsyncCalculatorError(STokenAlreadyUsed);
    used_ = true;
}

// ---------------------------------------------------------------------------------------------
// Calculator

TElPublicKeyAsyncCalculator::TElPublicKeyAsyncCalculator(rtl::Component* owner)
    : rtl::Component(owner), registry_(std::make_shared<TElPublicKeyCalculatorRegistry>()) {}

TElPublicKeyAsyncCalculator::~TElPublicKeyAsyncCalculator() {
    ReleaseAllTokens();
    std::lock_guard<std::mutex> guard(registry_->lock);
    registry_->alive = false;
}

bool TElPublicKeyAsyncCalculator::PriorityRaiseRefused() const {
    return registry_->priorityRaiseRefused;
}

void TElPublicKeyAsyncCalculator::AddToken(TElPublicKeyComputationToken* Token) {
    std::lock_guard<std::mutex> guard(registry_->lock);
    if (registry_->alive) registry_->tokens.insert(Token);
}

void TElPublicKeyAsyncCalculator::RemoveToken(TElPublicKeyComputationToken* Token) {
    std::lock_guard<std::mutex> guard(registry_->lock);
    registry_->tokens.erase(Token);
}

void TElPublicKeyAsyncCalculator::ReleaseToken(TElPublicKeyComputationToken* Token) {
    // Under the list's lock, so a token being destroyed on another thread waits for this to end
    // (the token's destructor takes the same lock first).
    std::lock_guard<std::mutex> guard(registry_->lock);
    if (registry_->tokens.erase(Token) != 0) Token->Cancel();
}

void TElPublicKeyAsyncCalculator::ReleaseAllTokens() {
    std::lock_guard<std::mutex> guard(registry_->lock);
    for (TElPublicKeyComputationToken* token : registry_->tokens) {
        token->Cancel();
        token->calculator_ = nullptr;
    }
    registry_->tokens.clear();
}

std::unique_ptr<TElPublicKeyComputationToken> TElPublicKeyAsyncCalculator::BeginElgamalEncryption(const BigNum* P,
                                                                                                  const BigNum* G,
                                                                                                  const BigNum* Y) {
    auto token = std::make_unique<TElPublicKeyComputationToken>(TElPublicKeyComputationToken::ElgamalEncryption, this);
    CopyBigNum(token->Slot(2), P);
    CopyBigNum(token->worker_->g.get(), G);
    CopyBigNum(token->worker_->y.get(), Y);
    token->Start();
    return token;
}

std::unique_ptr<TElPublicKeyComputationToken> TElPublicKeyAsyncCalculator::BeginElgamalSigning(const BigNum* P,
                                                                                               const BigNum* G) {
    auto token = std::make_unique<TElPublicKeyComputationToken>(TElPublicKeyComputationToken::ElgamalSigning, this);
    CopyBigNum(token->Slot(2), P);
    CopyBigNum(token->worker_->g.get(), G);
    token->Start();
    return token;
}

std::unique_ptr<TElPublicKeyComputationToken> TElPublicKeyAsyncCalculator::BeginDSASigning(const BigNum* P,
                                                                                           const BigNum* Q,
                                                                                           const BigNum* G) {
    auto token = std::make_unique<TElPublicKeyComputationToken>(TElPublicKeyComputationToken::DSASigning, this);
    CopyBigNum(token->Slot(1), P);
    CopyBigNum(token->Slot(2), Q);
    CopyBigNum(token->worker_->g.get(), G);
    token->Start();
    return token;
}

void TElPublicKeyAsyncCalculator::EndElgamalEncryption(TElPublicKeyComputationToken* Token, const BigNum* M,
                                                       BigNum* A, BigNum* B) {
    const BigNum* p = Token->GetSlot(2);
    if (Token->GetKind() == TElPublicKeyComputationToken::ElgamalEncryption &&
        (!M->NonNegative || !IsBigNumGreater(p, M)))
        throw EElPublicKeyAsyncCalculatorError(SAsyncInputTooLong);
    Token->Consume(TElPublicKeyComputationToken::ElgamalEncryption, SNotElgamalEncryptionToken);
    pkmath::MulModCT(Token->GetSlot(5), M, p, B);
    CopyBigNum(A, Token->GetSlot(1));
}

void TElPublicKeyAsyncCalculator::EndElgamalSigning(TElPublicKeyComputationToken* Token, const BigNum* X,
                                                    const BigNum* M, BigNum* A, BigNum* B) {
    Token->Consume(TElPublicKeyComputationToken::ElgamalSigning, SNotElgamalSigningToken);
    const BigNum* a = Token->GetSlot(1);
    const BigNum* pm1 = Token->GetSlot(6);
    // b = (m - a x) k^-1 mod (p - 1), with m first reduced so the difference stays positive.
    const BigNumPtr t = MakeBigNum(), m = MakeBigNum(), d = MakeBigNum(), b = MakeBigNum();
    MultiplyBigNums(a, X, d.get());
    ReduceBigNumBySubtraction(d.get(), pm1, t.get());
    ReduceBigNumBySubtraction(M, pm1, m.get());
    AddBigNums(m.get(), pm1, d.get());
    SubtractBigNums(d.get(), t.get(), d.get());
    MultiplyBigNums(d.get(), Token->GetSlot(8), t.get());
    ReduceBigNumBySubtraction(t.get(), pm1, b.get());
    if (IsBigNumZero(b.get())) throw EElPublicKeyAsyncCalculatorError(SPublicKeyComputationCanceled);
    CopyBigNum(A, a);
    CopyBigNum(B, b.get());
}

void TElPublicKeyAsyncCalculator::EndDSASigning(TElPublicKeyComputationToken* Token, const BigNum* X,
                                               const void* Digest, int32_t DigestSize, BigNum* R, BigNum* S) {
    Token->Consume(TElPublicKeyComputationToken::DSASigning, SNotDSASigningToken);
    const BigNum* q = Token->GetSlot(2);
    const BigNum* r = Token->GetSlot(7);
    // z: the leftmost N bits of the digest (FIPS 186-4 4.6), as SignDSA cuts it.
    BigNumPtr z;
    const pkmath::Bytes digest = pkmath::View(Digest, DigestSize);
    if (!pkmath::Load(z, digest)) throw EElPublicKeyAsyncCalculatorError(SAsyncInputTooLong);
    const size_t n = size_t(CountBigNumBits(q));
    if (8 * digest.size() > n) ShiftBigNumRight(z.get(), z.get(), int32_t(8 * digest.size() - n));
    const BigNumPtr t = MakeBigNum(), s = MakeBigNum();
    pkmath::MulModCT(X, r, q, t.get());
    AddBigNums(t.get(), z.get(), t.get());
    pkmath::ReduceCT(t.get(), q, t.get());
    pkmath::InverseModPrimeCT(Token->GetSlot(8), q, s.get());
    pkmath::MulModCT(s.get(), t.get(), q, s.get());
    if (IsBigNumZero(s.get())) throw EElPublicKeyAsyncCalculatorError(SPublicKeyComputationCanceled);
    CopyBigNum(R, r);
    CopyBigNum(S, s.get());
}

TElPublicKeyAsyncCalculator* GetPublicKeyAsyncCalculator() {
    // A function-local static is made once even when threads race for it. The provider the
    // digests run on is made first so that it outlives the calculator (statics go in reverse
    // order): workers hash through it until the calculator's destructor has stopped them.
    static TElPublicKeyAsyncCalculator* const calculator = [] {
        pkmath::PrepareDigests();
        static TElPublicKeyAsyncCalculator instance;
        return &instance;
    }();
    return calculator;
}
