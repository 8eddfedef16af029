// net/IdHeaderList.cpp: finding, unfolding and folding header lines.
#include "net/IdHeaderList.h"

#include "net/IdException.h"
#include "net/IdGlobal.h"
#include "net/IdGlobalProtocols.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

bool TIdHeaderList::IsContinuation(int index) const {
    if (index < 0 || index >= Count()) return false;
    const std::string& line = Strings(index);
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

size_t TIdHeaderList::SeparatorPos(const std::string& line) const {
    const std::string sep = rtl::TrimRight(Separator);
    return sep.empty() ? std::string::npos : line.find(sep);
}

std::string TIdHeaderList::NameOfLine(int index) const {
    const std::string& line = Strings(index);
    const size_t p = SeparatorPos(line);
    if (p == std::string::npos) return {};
    std::string name = line.substr(0, p);
    return NamesCaseSensitive ? name : rtl::UpperCase(name);
}

std::string TIdHeaderList::ValueOfLine(int index) const {
    if (index < 0 || index >= Count()) return {};
    const std::string& line = Strings(index);
    const size_t p = SeparatorPos(line);
    if (p == std::string::npos) return {};
    std::string value = line.substr(p + rtl::TrimRight(Separator).size());
    if (UnfoldOnRead)
        for (int i = index + 1; IsContinuation(i); ++i) value = rtl::Trim(value) + " " + rtl::Trim(Strings(i));
    return rtl::Trim(value);
}

int TIdHeaderList::IndexOfHeader(std::string_view name) const {
    for (int i = 0; i < Count(); ++i)
        if (SeparatorPos(Strings(i)) != std::string::npos && TextIsSame(NameOfLine(i), name)) return i;
    return -1;
}

std::string TIdHeaderList::GetValueByName(std::string_view name) const { return ValueOfLine(IndexOfHeader(name)); }

void TIdHeaderList::SetValueByName(std::string_view name, std::string_view value) {
    // A CR or LF would end the line early and the rest would stand as lines of its own (the
    // folding below cuts at every CR LF); a NUL ends a line for many readers. Such a header is
    // never stored (RFC 9110 section 5.5).
    constexpr std::string_view kLineEnders("\r\n\0", 3);
    if (name.find_first_of(kLineEnders) != std::string_view::npos ||
        value.find_first_of(kLineEnders) != std::string_view::npos)
        EIdException::RaiseIdException(rtl::Format(
            "The header \"%s\" holds a line break or a NUL character in its name or value and is refused.",
            std::string(name.substr(0, name.find_first_of(kLineEnders)))));
    int index = IndexOfHeader(name);
    if (!value.empty()) {
        if (index < 0) index = Add("");
        const std::string line = std::string(name) + Separator + std::string(value);
        if (FoldOnWrite) {
            DeleteContinuationLines(index);
            FoldAndInsertAt(line, index);
        } else {
            Set(index, line);
        }
    } else if (index >= 0) {
        if (FoldOnWrite) DeleteContinuationLines(index);
        Delete(index);
    }
}

void TIdHeaderList::ExtractValues(std::string_view name, rtl::StringList* list) const {
    if (list == nullptr) return;
    for (int i = 0; i < Count(); ++i)
        if (SeparatorPos(Strings(i)) != std::string::npos && TextIsSame(NameOfLine(i), name))
            list->Add(ValueOfLine(i));
}

void TIdHeaderList::DeleteContinuationLines(int index) {
    while (IsContinuation(index + 1)) Delete(index + 1);
}

std::unique_ptr<rtl::StringList> TIdHeaderList::FoldToLines(std::string_view text) const {
    auto lines = std::make_unique<rtl::StringList>();
    const std::string wrapped = WrapAtBreaks(text, "\r\n ", "\t ,", FoldWidth);
    size_t start = 0;
    for (;;) {
        const size_t p = wrapped.find("\r\n", start);
        lines->Add(rtl::TrimRight(std::string_view(wrapped).substr(start, p == std::string::npos ? p : p - start)));
        if (p == std::string::npos) break;
        start = p + 2;
    }
    return lines;
}

void TIdHeaderList::FoldAndInsertAt(std::string_view text, int index) {
    const std::unique_ptr<rtl::StringList> lines = FoldToLines(text);
    Set(index, (*lines)[0]);
    for (int i = 1; i < lines->Count(); ++i) Insert(index + i, (*lines)[i]);
}
