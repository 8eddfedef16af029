// crypto/facade/SBCustomCrypto.h: the two abstract roots of the library's user-facing crypto objects.
//
// TElKeyMaterial is the common base of every key container (symmetric, HMAC, RSA, DSA,
// Diffie-Hellman and SRP keys); certificate and TLS code hold keys through it and call its
// virtual operations without knowing the concrete class. The base describes no key: it is
// invalid, has 0 bits, is not exportable, and cannot be assigned or cloned ("Not implemented").
// Subclasses override all eight operations. TElCustomCrypto lets one reference type hold either
// a symmetric or a public-key operation object.
#pragma once

#include <cstdint>
#include <memory>

#include "crypto/base/SBUtils.h"
#include "rtl/Stream.h"

inline constexpr const char* SNotImplemented = "Not implemented";

class TElKeyMaterial {
public:
    virtual ~TElKeyMaterial() = default;

    virtual bool GetValid() const { return false; }
    virtual int GetBits() const { return 0; }
    virtual bool GetExportable() const { return false; }
    virtual void Generate(int bits) { (void)bits; }
    virtual void SaveToStream(rtl::Stream& stream) const { (void)stream; }
    // count 0: to the end of the stream.
    virtual void LoadFromStream(rtl::Stream& stream, int64_t count = 0) {
        (void)stream;
        (void)count;
    }
    virtual void Assign(const TElKeyMaterial& source);
    virtual std::unique_ptr<TElKeyMaterial> Clone() const;
};

class TElCustomCrypto {
public:
    virtual ~TElCustomCrypto() = default;
};
