// Fuzz target: the texts the SQL Server and Sybase drivers write and read themselves: the
// version number in a server's version text, a text value written as a Transact-SQL literal
// into a statement (and any text as the statement itself), and a date-time as a literal. The
// first byte picks the case, the rest is the input. Each may refuse its input with the
// library's error, never read past it or crash; a version it finds reads back the same from
// its own "major.minor", a text literal un-doubles to the value, and a date literal holds only
// digits, blanks and colons between its quotes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "database/drivers/SDTdsLiterals.h"
#include "rtl/Exception.h"
#include "rtl/Format.h"

namespace {

TTdsLiteralRules SybaseRules() {
    TTdsLiteralRules rules;
    rules.blobAsTextHex = true;
    rules.emptyStringAsNull = true;
    rules.bcdAsFloat = true;
    return rules;
}

void TextAsLiteral(const std::string& text) {
    std::string value = text;
    while (!value.empty() && value.back() == '\0')
        value.pop_back();
    TParams params;
    params.CreateParam(ftString, "p", ptInput).SetValue(rtl::Variant(text));
    for (const TTdsLiteralRules& rules : {TTdsLiteralRules{}, SybaseRules()}) {
        std::string sql;
        try {
            sql = TdsStatementText("select :p", &params, rules);
        } catch (const rtl::Exception&) {
            // Only a zero byte inside the value has no literal.
            if (value.find('\0') == std::string::npos) std::abort();
            continue;
        }
        if (value.empty() && rules.emptyStringAsNull) {
            if (sql != "select NULL") std::abort();
            continue;
        }
        if (sql.size() < 9 || sql.compare(0, 8, "select '") != 0 || sql.back() != '\'') std::abort();
        std::string back;
        const std::string inner = sql.substr(8, sql.size() - 9);
        for (size_t i = 0; i < inner.size(); ++i) {
            back += inner[i];
            if (inner[i] == '\'') {
                // Every quote of the value is doubled: nothing can end the literal early.
                if (i + 1 >= inner.size() || inner[i + 1] != '\'') std::abort();
                ++i;
            }
        }
        if (back != value) std::abort();
    }
    // The text as a statement: its markers take the parameters' literals, or it is refused.
    params.CreateParam(ftInteger, "n", ptInput).SetValue(rtl::Variant(int32_t(7)));
    params.CreateParam(ftBytes, "b", ptInput).SetValue(rtl::Variant::FromBytes({0x00, 0x27}));
    try {
        const std::string sql = TdsStatementText(text, &params, SybaseRules());
        if (sql.find('\0') != std::string::npos) std::abort();
    } catch (const rtl::Exception&) {
        // A value or a text with a zero byte is refused.
    }
}

void DateAsLiteral(const std::string& text) {
    if (text.size() < sizeof(double)) return;
    double value = 0;
    std::memcpy(&value, text.data(), sizeof value);
    for (TFieldType type : {ftDate, ftTime, ftDateTime}) {
        std::string literal;
        try {
            literal = TdsDateLiteral(type, value);
        } catch (const rtl::Exception&) {
            continue;  // no date-time at all (NaN, out of range)
        }
        if (literal.size() < 2 || literal.front() != '\'' || literal.back() != '\'') std::abort();
        for (size_t i = 1; i + 1 < literal.size(); ++i)
            if (!(literal[i] >= '0' && literal[i] <= '9') && literal[i] != ' ' && literal[i] != ':') std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 3) {
        case 0: {
            const int32_t version = ParseServerVersionText(text);
            if (version == 0) break;
            const std::string again = rtl::Format("%d.%d", GetVersionMajor(version), GetVersionMinor(version));
            if (ParseServerVersionText(again) != version) std::abort();
            break;
        }
        case 1:
            TextAsLiteral(text);
            break;
        default:
            DateAsLiteral(text);
            break;
    }
    return 0;
}
