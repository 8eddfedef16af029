// net/IdReplyRFC.h: replies of the RFC line protocols.
//
// A three-digit code in front of every line, "-" after it on every line but the last and a
// space on the last ("250-first", "250 last"). A code is valid when it reads as 100..999, or
// is empty or blank (no code yet).
#pragma once

#include "net/IdReply.h"

class TIdReplyRFC : public TIdReply {
public:
    bool IsValidCode(std::string_view code) const override;
    bool HasReply() const override { return GetNumericCode() >= 1 || Text().Count() > 0; }
    // Shorter than 4 characters, or a space as the fourth.
    bool IsLastLine(std::string_view line) const override { return line.size() < 4 || line[3] == ' '; }
    rtl::StringList& FormattedLines() override;
    // Code from the first line's first three characters (validated); every line's text from
    // its fifth character.
    void ParseFormattedLines(const rtl::StringList& lines) override;
    // EIdReplyRFCError with the numeric code and the text (each line followed by CR LF).
    [[noreturn]] void RaiseAsError() const override;

protected:
    void AssignTo(TIdReply& target) const override;
};
