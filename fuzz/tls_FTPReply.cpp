// Fuzz target: the FTP client's reply reader: the length of the first whole reply in a
// buffer, its code, and the features it names when read as a FEAT reply. A reply found lies
// inside the buffer and ends with a line feed; a code read is three digits; reading features
// never fails, whatever the lines hold.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "tls/SBSimpleFTPS.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t length = 0;
    try {
        length = FTPReplyLength(text);
    } catch (const EFTPSError&) {
        return 0;
    }
    if (length > size) std::abort();
    (void)ReadFTPFeatures(text);
    if (length == 0) return 0;
    (void)ReadFTPFeatures(text.substr(0, length));
    if (text[length - 1] != '\n') std::abort();
    try {
        const int code = FTPReplyCode(text.substr(0, length));
        if (code < 1 || code > 999) std::abort();
    } catch (const EFTPSError&) {
    }
    return 0;
}
