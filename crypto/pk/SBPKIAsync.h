// crypto/pk/SBPKIAsync.h: background precomputation for public-key operations. The expensive,
// message-independent half of an Elgamal encryption, an Elgamal signature or a DSA signature
// (a random k and the exponentiations with it) runs in a worker thread when a key is prepared;
// the operation later finishes it with the message and the private value, waiting for the
// worker if it is still busy. Tokens of the generation kinds (prime, DSA, RSA and Elgamal keys)
// run a whole key generation the same way.
//
// Ownership and threads: the caller owns every token (std::unique_ptr); the calculator only
// tracks the tokens made with it, so that destroying the calculator stops their workers. Each
// token has at most one worker thread, started by Start and joined by WaitFor, Cancel or the
// token's destructor; the worker hands its result over under the token's lock and wakes the
// waiters, so nothing is polled. Cancellation is cooperative: Terminate sets a flag that every
// long BigNum operation of the job checks through its progress callback.
//
// What must stay true:
// - a token serves exactly one End operation: its nonce k is spent then, and a second End (which
//   would sign or encrypt with the same k and give away x) raises;
// - the nonces are those of the direct routines: uniform in 1 .. q - 1 for DSA, drawn with
//   gcd(k, p - 1) = 1 for Elgamal, from the system's random source; the finishing arithmetic with
//   x takes the constant-time path;
// - destroying a token or the calculator never leaves a worker running.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "crypto/base/SBUtils.h"
#include "crypto/math/SBMath.h"
#include "rtl/Component.h"
#include "rtl/SecureBytes.h"

RTL_EXCEPTION(EElPublicKeyAsyncCalculatorError, ECryptoLibraryError);

inline constexpr const char* SNotElgamalEncryptionToken = "Not an Elgamal encryption token";
inline constexpr const char* SNotElgamalSigningToken = "Not an Elgamal signing token";
inline constexpr const char* SNotDSASigningToken = "Not a DSA signing token";
inline constexpr const char* SPublicKeyComputationCanceled = "Public key computation canceled";
inline constexpr const char* SRSAGenerationFailed = "RSA generation failed";
inline constexpr const char* SRSAPrivateKeyDecodingFailed = "RSA private key decoding failed";
inline constexpr const char* SDSAGenerationFailed = "DSA generation failed";
inline constexpr const char* SElgamalGenerationFailed = "Elgamal generation failed";
// Ours: a token whose nonce was spent by an End operation.
inline constexpr const char* STokenAlreadyUsed = "Public key computation token already used";
// Ours: an Elgamal message that is not below p.
inline constexpr const char* SAsyncInputTooLong = "Input too long";

// The priority a worker runs at, relative to the thread that starts it (Normal: the same).
// Each step is a niceness of the worker's thread alone: Idle the lowest there is, Lowest 10
// below, Lower 5 below, Higher 5 above, Highest 10 above, TimeCritical the highest. Lowering
// needs no privilege; a raise the system refuses leaves the worker where it started, and the
// computation goes on (the calculator notes the refusal: PriorityRaiseRefused).
enum class TThreadPriority { Idle, Lowest, Lower, Normal, Higher, Highest, TimeCritical };

class TElPublicKeyAsyncCalculator;
class TElPublicKeyComputationThread;
// The calculator's list of tokens and its lock, shared with the tokens so either side may go
// first.
struct TElPublicKeyCalculatorRegistry;

class TElPublicKeyComputationToken {
public:
    enum Kind : uint8_t {
        ElgamalEncryption = 0,
        ElgamalSigning = 1,
        DSASigning = 2,
        Prime = 3,
        DSAKey = 4,
        RSAKey = 5,
        ElgamalKey = 6,
    };

    // A token of the kind, registered with the calculator; its worker is made but not started.
    // Bits is the size the generation kinds (3 to 6) produce.
    TElPublicKeyComputationToken(Kind kind, TElPublicKeyAsyncCalculator* calculator, int32_t bits = 0);
    // Stops and joins the worker (if any), then leaves the calculator.
    ~TElPublicKeyComputationToken();
    TElPublicKeyComputationToken(const TElPublicKeyComputationToken&) = delete;
    TElPublicKeyComputationToken& operator=(const TElPublicKeyComputationToken&) = delete;

    // Runs the worker. Starting twice, or after Cancel, does nothing.
    void Start();
    // Asks the worker to stop; it ends unsuccessful unless its job was already done.
    void Terminate();
    // Returns when the worker has ended (at once when it was never started).
    void WaitFor();
    void Cancel();
    // No worker is running: never started, ended or cancelled.
    bool GetFinished() const;
    // The job completed (false while it runs, when it failed or was cancelled).
    bool GetSuccess() const;
    Kind GetKind() const { return kind_; }
    TElPublicKeyAsyncCalculator* GetCalculator() const;
    // The results, slots 1 to 8 (see the kinds); read them only once GetFinished is true.
    const BigNum* GetSlot(int index) const;
    // The generated key's blob (kinds 4 and 5).
    const rtl::SecureBytes& GetKeyBlob() const { return keyBlob_; }

private:
    friend class TElPublicKeyAsyncCalculator;
    friend class TElPublicKeyComputationThread;

    BigNum* Slot(int index) { return slots_[size_t(index - 1)].get(); }
    // Called by the worker at its end.
    void ThreadFinished(bool success);
    // Waits, then checks the kind's End preconditions and marks the token spent.
    void Consume(Kind kind, const char* wrongKind);

    const Kind kind_;
    std::shared_ptr<TElPublicKeyCalculatorRegistry> registry_;
    TElPublicKeyAsyncCalculator* calculator_;
    BigNumPtr slots_[8];
    rtl::SecureBytes keyBlob_;
    std::unique_ptr<TElPublicKeyComputationThread> worker_;

    mutable std::mutex lock_;
    std::condition_variable done_;
    std::thread thread_;
    bool started_ = false;
    bool running_ = false;
    bool success_ = false;
    bool used_ = false;
};

// The calculator: makes the tokens of the three precomputation kinds and finishes them.
class TElPublicKeyAsyncCalculator : public rtl::Component {
public:
    explicit TElPublicKeyAsyncCalculator(rtl::Component* owner = nullptr);
    // Stops and joins the workers of every token still registered; the tokens stay with their
    // owners (their End operations are no longer reachable through this calculator).
    ~TElPublicKeyAsyncCalculator() override;

    // Given to each worker when its token starts.
    TThreadPriority Priority = TThreadPriority::Normal;
    // Set, once and for good, when the system refused a worker the higher priority it asked
    // for; that worker ran at the priority it started with.
    bool PriorityRaiseRefused() const;

    // Started tokens of kinds 0, 1 and 2 with copies of the inputs.
    std::unique_ptr<TElPublicKeyComputationToken> BeginElgamalEncryption(const BigNum* P, const BigNum* G,
                                                                         const BigNum* Y);
    std::unique_ptr<TElPublicKeyComputationToken> BeginElgamalSigning(const BigNum* P, const BigNum* G);
    std::unique_ptr<TElPublicKeyComputationToken> BeginDSASigning(const BigNum* P, const BigNum* Q, const BigNum* G);

    // Each checks the token's kind first (without waiting), waits for the worker, refuses a
    // token that failed, was cancelled or was already used, and spends it.
    // a := g^k mod p, b := y^k m mod p (m must be below p).
    void EndElgamalEncryption(TElPublicKeyComputationToken* Token, const BigNum* M, BigNum* A, BigNum* B);
    // a := g^k mod p, b := (m - a x) k^-1 mod (p - 1).
    void EndElgamalSigning(TElPublicKeyComputationToken* Token, const BigNum* X, const BigNum* M, BigNum* A,
                           BigNum* B);
    // r := (g^k mod p) mod q, s := k^-1 (z + x r) mod q, z the digest cut to the bits of q.
    void EndDSASigning(TElPublicKeyComputationToken* Token, const BigNum* X, const void* Digest, int32_t DigestSize,
                       BigNum* R, BigNum* S);

    // Token bookkeeping (the token's constructor and destructor call these).
    void AddToken(TElPublicKeyComputationToken* Token);
    void RemoveToken(TElPublicKeyComputationToken* Token);
    // Stops the token's worker and forgets the token (the caller still owns it).
    void ReleaseToken(TElPublicKeyComputationToken* Token);
    // Stops every registered token's worker and forgets them all.
    void ReleaseAllTokens();

private:
    friend class TElPublicKeyComputationToken;
    std::shared_ptr<TElPublicKeyCalculatorRegistry> registry_;
};

// The process-wide calculator, made on first use (once, whatever the threads) and kept until
// the program ends.
TElPublicKeyAsyncCalculator* GetPublicKeyAsyncCalculator();
