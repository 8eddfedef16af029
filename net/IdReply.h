// net/IdReply.h: a protocol server's answer to a command: a code and text lines.
//
// TIdReply is the generic holder; TIdReplyRFC (IdReplyRFC.h) gives it the form of the RFC
// line protocols. The code is validated whenever it is set as text; a reply raises itself as
// an error of its own class (RaiseAsError). Replies are made on their own, never kept in a
// collection, so no two replies need to be compared by code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "net/IdException.h"
#include "rtl/StringList.h"

RTL_EXCEPTION(EIdReplyError, EIdException);

class EIdReplyRFCError : public EIdReplyError {
public:
    explicit EIdReplyRFCError(const std::string& message) : EIdReplyError(message) {}
    EIdReplyRFCError(int32_t code, const std::string& message) : EIdReplyError(message), ReplyErrorCode(code) {}
    const char* ClassName() const noexcept override { return "EIdReplyRFCError"; }

    int32_t ReplyErrorCode = 0;
};

class TIdReply {
public:
    TIdReply() = default;
    virtual ~TIdReply() = default;
    TIdReply(const TIdReply&) = delete;
    TIdReply& operator=(const TIdReply&) = delete;

    const std::string& Code() const { return code_; }
    // "Reply Code is not valid: %s" when IsValidCode refuses the text.
    void SetCode(std::string_view code);
    // The code as a decimal number, 0 when it is not one.
    int32_t GetNumericCode() const;
    // Stores the number's decimal text without validation.
    void SetNumericCode(int32_t code);

    rtl::StringList& Text() { return text_; }
    const rtl::StringList& Text() const { return text_; }
    void SetText(const rtl::StringList& lines) { text_ = lines; }

    virtual void ClearReply();
    virtual bool HasReply() const { return !code_.empty(); }
    virtual bool IsValidCode(std::string_view) const { return true; }
    virtual bool IsLastLine(std::string_view) const { return false; }
    // Empties the working list of formatted lines and returns it.
    rtl::StringList& ResetFormattedLines();
    // The reply as the lines a server sends.
    virtual rtl::StringList& FormattedLines() { return ResetFormattedLines(); }
    virtual void ParseFormattedLines(const rtl::StringList& lines) = 0;
    [[noreturn]] virtual void RaiseAsError() const = 0;

    void AssignReply(int32_t code, std::string_view text) { AssignReply(std::to_string(code), text); }
    // Code (validated), then the text split into lines.
    void AssignReply(std::string_view code, std::string_view text);
    // The code, and after a space the first text line when there is one.
    std::string DisplayName() const;
    // Copies source into this reply (as the source's class defines).
    void Assign(const TIdReply& source) { source.AssignTo(*this); }

protected:
    // This reply into target: target cleared, its text copied, its code set (validated).
    virtual void AssignTo(TIdReply& target) const;

private:
    std::string code_;
    rtl::StringList formattedList_;
    rtl::StringList text_;
};
