// crypto/base/SBAlgorithmIdentifier.cpp: reading and writing an AlgorithmIdentifier.
#include "crypto/base/SBAlgorithmIdentifier.h"

#include "crypto/base/SBASN1Tree.h"

int32_t ReadAlgorithmIdentifier(const TElASN1CustomTag& tag, ByteString& oid, ByteString& parameters, bool anyTag) {
    if (!tag.IsConstrained() || (!anyTag && tag.TagByte != 0x30)) return SB_PKCS7_ERROR_INVALID_ALGORITHM_IDENTIFIER;
    const auto& seq = static_cast<const TElASN1ConstrainedTag&>(tag);
    if (seq.GetCount() < 1 || seq.GetCount() > 2 || !seq.GetChild(0)->CheckType(0x06, false))
        return SB_PKCS7_ERROR_INVALID_ALGORITHM_IDENTIFIER;
    oid = static_cast<const TElASN1SimpleTag&>(*seq.GetChild(0)).GetContent();
    parameters = seq.GetCount() == 2 ? SaveTagToString(*seq.GetChild(1)) : ByteString();
    return 0;
}

void WriteAlgorithmIdentifier(TElASN1ConstrainedTag& tag, std::string_view oid, std::string_view parameters,
                              uint8_t tagByte) {
    tag.Clear();
    tag.TagByte = tagByte == 0 ? 0x30 : tagByte;
    auto& id = static_cast<TElASN1SimpleTag&>(*tag.GetChild(tag.AddChild(false)));
    id.TagByte = 0x06;
    id.SetContent(oid);
    auto& params = static_cast<TElASN1SimpleTag&>(*tag.GetChild(tag.AddChild(false)));
    if (parameters.empty()) {
        params.TagByte = 0x05;
        return;
    }
    // The stored bytes already form the element: written as they are, without a header.
    params.EmitHeader = false;
    params.SetContent(parameters);
}
