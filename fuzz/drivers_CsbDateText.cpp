// Fuzz target: the date and time texts the SQLBase client writes through the driver's date
// pictures. The first byte picks the picture (date, time, time stamp); the reader may refuse a
// text, never read past it or crash, and a time stamp it accepts keeps its date and its time of
// day within the day.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "database/drivers/SDCSb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const TFieldType types[] = {ftDate, ftTime, ftDateTime};
    const TFieldType type = types[data[0] % 3];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        const TSDDateTimeRec rec = CsbDateTextToRec(type, text);
        if (type == ftTime && (rec.Time() < 0 || rec.Time() >= 86400000)) std::abort();
        if (type == ftDate && rec.Date() < 0) std::abort();
        if (type == ftDateTime && rec.DateTime() < 0) std::abort();
    } catch (const rtl::Exception&) {
        // Refused: no date, no time.
    }
    return 0;
}
