// fuzz/pki_GeneralNames.cpp: GeneralNames read from arbitrary bytes.
//
// Reading never raises; what was read writes (an IP address of a length no reader makes is
// the one refusal, an rtl::EConvertError), and the written names read again and write the
// same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "crypto/base/SBASN1Tree.h"
#include "pki/SBX509Ext.h"

namespace {

bool Write(TElGeneralNames& names, std::string& out) {
    TElASN1ConstrainedTag tag;
    try {
        names.SaveToTag(tag);
    } catch (const rtl::EConvertError&) {
        return false;
    }
    out = SaveTagToString(tag);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    TElASN1ConstrainedTag root;
    if (!LoadTagTree(root, std::string_view(reinterpret_cast<const char*>(data + 1), size - 1))) return 0;
    const auto* list = root.GetCount() == 1 ? ConstructedChild(root, 0, 0, true) : nullptr;
    if (list == nullptr) return 0;
    TElGeneralNames names;
    names.LoadFromTag(*list, (data[0] & 1) != 0);
    std::string first;
    if (!Write(names, first)) return 0;
    TElASN1ConstrainedTag again;
    if (!LoadTagTree(again, first) || again.GetCount() != 1) std::abort();
    TElGeneralNames reread;
    reread.LoadFromTag(static_cast<const TElASN1ConstrainedTag&>(*again.GetChild(0)), false);
    std::string second;
    if (!Write(reread, second) || second != first) std::abort();
    return 0;
}
