// net/IdReply.cpp: the generic reply.
#include "net/IdReply.h"

#include "rtl/Format.h"
#include "rtl/Text.h"

void TIdReply::SetCode(std::string_view code) {
    if (!IsValidCode(code)) EIdException::RaiseIdException(rtl::Format("Reply Code is not valid: %s", code));
    code_ = std::string(code);
}

int32_t TIdReply::GetNumericCode() const { return rtl::StrToIntDef(code_, 0); }

void TIdReply::SetNumericCode(int32_t code) { code_ = std::to_string(code); }

void TIdReply::ClearReply() {
    text_.Clear();
    code_.clear();
}

rtl::StringList& TIdReply::ResetFormattedLines() {
    formattedList_.Clear();
    return formattedList_;
}

void TIdReply::AssignReply(std::string_view code, std::string_view text) {
    SetCode(code);
    text_.SetText(text);
}

std::string TIdReply::DisplayName() const { return text_.Count() == 0 ? code_ : code_ + " " + text_[0]; }

void TIdReply::AssignTo(TIdReply& target) const {
    if (&target == this) return;
    target.ClearReply();
    target.text_ = text_;
    target.SetCode(code_);
}
