// net/IdReplyRFC.cpp: formatting and parsing of RFC reply lines.
#include "net/IdReplyRFC.h"

#include "rtl/Text.h"

bool TIdReplyRFC::IsValidCode(std::string_view code) const {
    if (rtl::Trim(code).empty()) return true;
    int32_t v;
    return rtl::TryStrToInt(code, v) && v >= 100 && v <= 999;
}

rtl::StringList& TIdReplyRFC::FormattedLines() {
    rtl::StringList& out = ResetFormattedLines();
    const int32_t code = GetNumericCode();
    const rtl::StringList& text = Text();
    if (code < 1) {
        out.AddStrings(text);
    } else if (text.Count() == 0) {
        out.Add(std::to_string(code));
    } else {
        const std::string c = std::to_string(code);
        for (int i = 0; i < text.Count(); ++i) out.Add(c + (i + 1 < text.Count() ? "-" : " ") + text[i]);
    }
    return out;
}

void TIdReplyRFC::ParseFormattedLines(const rtl::StringList& lines) {
    ClearReply();
    if (lines.Count() == 0) return;
    SetCode(rtl::Trim(std::string_view(lines[0]).substr(0, 3)));
    for (int i = 0; i < lines.Count(); ++i) Text().Add(lines[i].size() > 4 ? lines[i].substr(4) : std::string());
}

void TIdReplyRFC::RaiseAsError() const { throw EIdReplyRFCError(GetNumericCode(), Text().Text()); }

void TIdReplyRFC::AssignTo(TIdReply& target) const {
    if (&target == this) return;
    if (auto* rfc = dynamic_cast<TIdReplyRFC*>(&target)) {
        rfc->SetNumericCode(GetNumericCode());
        rfc->SetText(Text());
        return;
    }
    TIdReply::AssignTo(target);
}
