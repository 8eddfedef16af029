// Fuzz target: internet date texts of any content (they arrive in HTTP headers and cookies).
// Parsing never fails or reads out of bounds; a date that parses writes back to a text that
// parses to the same second.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/IdGlobalProtocols.h"
#include "rtl/DateTime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string rest = text;
    const rtl::TDateTime date = ParseInternetDate(rest);
    if (rest.size() > text.size()) std::abort();
    ZoneOffsetToTime(text);
    GmtTextToDateTime(text);
    if (date != 0) {
        int y, m, d;
        rtl::DecodeDate(date, y, m, d);
        // Two-digit years are read as 19xx/20xx: only four-digit ones come back unchanged.
        if (y >= 100) {
            std::string again = DateTimeToGmtText(date);
            const rtl::TDateTime back = ParseInternetDate(again);
            if (std::fabs(back - date) * 86400.0 >= 1.0 || again != "GMT") std::abort();
        }
    }
    return 0;
}
