// pki/SBCustomCertStorage_pfx.cpp: a storage's PKCS#12 import and export, and its form as a
// stored component property.
#include <cstring>

#include "crypto/base/SBConstants.h"
#include "pki/SBCustomCertStorage.h"
#include "pki/SBPKCS12.h"
#include "rtl/Bytes.h"

namespace {

constexpr int32_t kStreamIterations = 2048;
// A streamed PFX larger than this is not a storage this program wrote: far more certificates
// than any storage holds, and a bound on what a damaged stream makes us allocate.
constexpr uint32_t kMaxStreamedSize = 64u << 20;

// The component stream's integer values: a type byte, then the value little-endian.
int32_t ReadStreamInteger(rtl::Stream& stream) {
    uint8_t type = 0;
    stream.ReadBuffer(&type, 1);
    uint8_t b[4] = {};
    switch (type) {
        case 2:
            stream.ReadBuffer(b, 1);
            return int8_t(b[0]);
        case 3:
            stream.ReadBuffer(b, 2);
            return int16_t(rtl::load_le16(b));
        case 4:
            stream.ReadBuffer(b, 4);
            return int32_t(rtl::load_le32(b));
        default:
            throw rtl::EReadError("Invalid property value");
    }
}

// A streamed PFX of the given size: 0 or less clears the storage, anything else is imported.
void ImportStreamed(TElCustomCertStorage& storage, rtl::Stream& stream, int32_t size) {
    if (size <= 0) {
        storage.Clear();
        return;
    }
    if (uint32_t(size) > kMaxStreamedSize) throw rtl::EReadError("Invalid property value");
    std::string pfx(size_t(size), '\0');
    stream.ReadBuffer(pfx.data(), pfx.size());
    if (const int32_t r = storage.ImportFromPFX(pfx.data(), pfx.size(), TElCustomCertStorage::StreamPassword);
        r != 0)
        throw ECryptoLibraryError("Invalid certificate storage data", r);
}

}  // namespace

int32_t TElCustomCertStorage::ImportFromPFX(const void* buffer, size_t size, std::string_view password) {
    TElPKCS12Message message;
    message.SetPassword(password);
    const int32_t r = message.LoadFromBuffer(buffer, size);
    if (r != 0) return r;
    TElMemoryCertStorage& read = message.GetCertStorage();
    for (int32_t i = 0; i < read.GetCount(); ++i)
        Add(read.GetCertificate(i), true);
    return 0;
}

int32_t TElCustomCertStorage::ExportToPFX(void* buffer, size_t& size, int32_t keyAlgorithm,
                                          int32_t certificateAlgorithm, std::string_view password) const {
    TElPKCS12Message message;
    message.SetPassword(password);
    message.IterationCount = kStreamIterations;
    message.KeyBagAlgorithm = keyAlgorithm;
    message.SafeAlgorithm = certificateAlgorithm;
    for (int32_t i = 0; i < GetCount(); ++i)
        message.GetCertStorage().Add(GetCertificate(i), true);
    return message.SaveToBuffer(buffer, size);
}

void TElCustomCertStorage::WriteBinaryCertificates(rtl::Stream& stream) const {
    if (!StoresBinaryCertificates()) return;
    size_t size = 0;
    ExportToPFX(nullptr, size, SB_ALG_PKCS12_SHA1_RC4_128, SB_ALG_PKCS12_SHA1_RC4_128, StreamPassword);
    std::string pfx(size, '\0');
    const int32_t r =
        ExportToPFX(pfx.data(), size, SB_ALG_PKCS12_SHA1_RC4_128, SB_ALG_PKCS12_SHA1_RC4_128, StreamPassword);
    // A storage that cannot be written is an error, not an empty property that would clear the
    // storage when read back.
    if (r != 0 || size > kMaxStreamedSize)
        throw ECryptoLibraryError("The certificate storage cannot be streamed", r);
    uint8_t le[4];
    rtl::store_le32(le, uint32_t(size));
    stream.WriteBuffer(le, 4);
    stream.WriteBuffer(pfx.data(), size);
}

void TElCustomCertStorage::ReadBinaryCertificates(rtl::Stream& stream) {
    uint8_t le[4];
    stream.ReadBuffer(le, 4);
    ImportStreamed(*this, stream, int32_t(rtl::load_le32(le)));
}

void TElCustomCertStorage::ReadCertificates(rtl::Stream& stream) {
    ImportStreamed(*this, stream, ReadStreamInteger(stream));
}
