// Fuzz target: decimal text as an ODBC data source sends it for an exact numeric read into a
// BCD field. Any input either is refused or gives an amount whose own text reads back to the
// same amount (round trip), without reading outside the input.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "database/odbc/SDOdbc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    int64_t scaled = 0;
    if (!OdbcDecimalTextToScaled(text, scaled)) return 0;
    int precision = 0;
    int places = 0;
    const std::string again = OdbcScaledToDecimalText(scaled, precision, places);
    int64_t back = 0;
    if (!OdbcDecimalTextToScaled(again, back) || back != scaled || places > 4 || precision < 1 ||
        precision > 19)
        std::abort();
    return 0;
}
