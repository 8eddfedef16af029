// net/IdCoder.cpp: text encoding through a stream adapter.
#include "net/IdCoder.h"

#include <limits>

std::string TIdEncoder::EncodeText(const std::string& text) {
    TIdStreamVCL stream(std::make_unique<TIdStringStream>(text));
    return EncodeStream(stream, std::numeric_limits<int32_t>::max());
}
