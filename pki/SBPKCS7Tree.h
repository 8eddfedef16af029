// pki/SBPKCS7Tree.h: the small tag-tree readings the PKCS#7 and PKCS#12 readers share
// (versions, segmented contents) and the version writer. Internal to pki/. A child of a given
// tag byte and form is crypto/base/SBASN1Tree.h's PrimitiveChild or ConstructedChild.
#pragma once

#include <cstdint>

#include "crypto/base/SBASN1Tree.h"

namespace pkcs7tree {

// A version INTEGER whose content is exactly the one byte v.
inline bool IsVersion(const TElASN1SimpleTag& tag, uint8_t v) {
    const ByteString c = tag.GetContent();
    return c.size() == 1 && uint8_t(c[0]) == v;
}

// The segments of a constructed string joined; false when a segment is itself constructed.
inline bool JoinedContent(const TElASN1ConstrainedTag& tag, ByteString& out) {
    size_t size = 0;
    tag.GetJoinedContent(nullptr, size);
    out.assign(size, '\0');
    if (!tag.GetJoinedContent(out.data(), size)) {
        out.clear();
        return false;
    }
    out.resize(size);
    return true;
}

// INTEGER holding the low byte of the version, as the writers put it.
inline void AddVersion(TElASN1ConstrainedTag& parent, int32_t version) {
    const char b = char(uint8_t(version));
    AddSimpleChild(parent, 0x02, std::string_view(&b, 1));
}

}  // namespace pkcs7tree
