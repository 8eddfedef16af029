// Fuzz target: what the PostgreSQL server sends as text and the driver decodes itself, bytea
// (hex and escape forms), money and date-time texts. The first byte picks the decoder, the
// rest is the server's text. A decoder may refuse the text, never read past it or crash; a
// bytea it accepts comes out the same when written in the hex form and decoded again, and a
// money amount it accepts is a finite number.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "database/drivers/SDPgSQL.h"
#include "database/drivers/SDSqlLiterals.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 3) {
        case 0: {
            rtl::ByteArray bytes;
            std::string error;
            if (!DecodePgBytea(text.data(), text.size(), bytes, error)) {
                if (error.empty()) std::abort();
                break;
            }
            std::string hex = PgByteaLiteral(bytes);  // E'\\x...'
            hex = "\\x" + hex.substr(5, hex.size() - 6);
            rtl::ByteArray again;
            if (!DecodePgBytea(hex.data(), hex.size(), again, error) || again != bytes) std::abort();
            break;
        }
        case 1: {
            double value = 0;
            if (DecodePgMoney(text.data(), text.size(), value) && !std::isfinite(value)) std::abort();
            break;
        }
        default:
            try {
                (void)SqlTextToDateTimeMs(text);
                (void)SqlTextToTimeMs(text);
            } catch (const rtl::Exception&) {
                // A year past 9999 is refused by the library's rule.
            }
            break;
    }
    return 0;
}
