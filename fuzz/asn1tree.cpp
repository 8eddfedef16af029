// fuzz/asn1tree.cpp: the ASN.1 tag tree on arbitrary bytes.
//
// Whatever loads must save, the saved bytes must load again and save to the same bytes, and a
// stream load (with large contents left in the stream) must give the same tree as a buffer
// load. A load that fails must fail cleanly: no crash, no read past the input.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crypto/base/SBASN1Tree.h"
#include "rtl/Stream.h"

namespace {

std::string Save(const TElASN1ConstrainedTag& root) {
    size_t size = 0;
    root.SaveToBuffer(nullptr, size);
    std::string out(size, '\0');
    if (!root.SaveToBuffer(out.data(), size)) std::abort();
    out.resize(size);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TElASN1ConstrainedTag one;
    const int64_t used = one.LoadOneFromBuffer(data, size);
    if (used > int64_t(size)) std::abort();

    TElASN1ConstrainedTag root;
    root.EmitHeader = false;  // the root stands for the buffer itself
    if (!root.LoadFromBuffer(data, size)) return 0;
    const std::string first = Save(root);

    TElASN1ConstrainedTag again;
    again.EmitHeader = false;
    if (!again.LoadFromBuffer(first.data(), first.size())) std::abort();
    if (Save(again) != first) std::abort();

    rtl::MemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
    TElASN1ConstrainedTag fromStream;
    fromStream.EmitHeader = false;
    fromStream.MaxInMemorySize = 4;
    if (!fromStream.LoadFromStream(stream)) std::abort();
    rtl::MemoryStream out;
    fromStream.SaveToStream(out);
    if (out.Data() != first) std::abort();
    return 0;
}
