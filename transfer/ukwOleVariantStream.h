// transfer/ukwOleVariantStream.h: a memory stream under the name the server's units know it
// by. It adds no behaviour and nothing in the launcher depends on it.
#pragma once

#include "rtl/Stream.h"

class TOleVariantStream : public rtl::MemoryStream {
public:
    using rtl::MemoryStream::MemoryStream;
};
