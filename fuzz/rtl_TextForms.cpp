// Fuzz target: the text forms read from outside: string-list lines, comma and delimited
// text, and date-time text. Whatever is read writes back to a text that reads the same.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "rtl/DateTime.h"
#include "rtl/Exception.h"
#include "rtl/StringList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    rtl::StringList lines;
    lines.SetText(text);
    rtl::StringList back;
    back.SetText(lines.Text());
    if (!(back == lines)) std::abort();

    rtl::StringList comma;
    comma.SetCommaText(text);
    back.SetCommaText(comma.CommaText());
    if (!(back == comma)) std::abort();

    rtl::StringList semi;
    semi.SetDelimiter(';');
    semi.SetQuoteChar('\'');
    semi.SetDelimitedText(text);
    rtl::StringList semiBack;
    semiBack.SetDelimiter(';');
    semiBack.SetQuoteChar('\'');
    semiBack.SetDelimitedText(semi.DelimitedText());
    if (!(semiBack == semi)) std::abort();

    for (int i = 0; i < lines.Count(); ++i) {
        lines.Names(i);
        lines.ValueFromIndex(i);
    }

    double dt = 0;
    if (rtl::TryStrToDateTime(text, dt)) {
        // A parsed value is a valid date-time: it formats and reads back to the second.
        const std::string shown = rtl::DateTimeToStr(dt);
        if (rtl::DateTimeToStr(rtl::StrToDateTime(shown)) != shown) std::abort();
    }
    try {
        rtl::FormatDateTime(text, 1234.5678);
    } catch (const rtl::EConvertError&) {
    }
    return 0;
}
