// net/IdHeaderList.h: the header lines of an internet message.
//
// One physical line per entry: a name, the separator's colon and a value, or a continuation
// line (beginning with a space or a tab) that belongs to the nearest header line above it.
// Headers are found by name in any letter case; a value read joins its continuation lines
// (unfolding, RFC 5322 section 2.2.3) and a value written is folded into lines of at most
// FoldWidth characters whose continuations begin with one space. A line without the
// separator has no name and is never found by name.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "rtl/StringList.h"

class TIdHeaderList : public rtl::StringList {
public:
    std::string Separator = ": ";
    bool NamesCaseSensitive = false;
    bool UnfoldOnRead = true;
    bool FoldOnWrite = true;
    int FoldWidth = 78;

    // The name of the line (upper case unless NamesCaseSensitive); empty without a separator.
    std::string NameOfLine(int index) const;
    // The value of the line with its continuation lines (UnfoldOnRead), trimmed; empty for an
    // index outside the list.
    std::string ValueOfLine(int index) const;
    // First line of that name (any case), -1 when none.
    int IndexOfHeader(std::string_view name) const;
    std::string GetValueByName(std::string_view name) const;
    // Sets (folding when FoldOnWrite) the first header of that name, adding it when absent; an
    // empty value deletes it with its continuation lines. A name or value holding CR, LF or
    // NUL raises EIdException and changes nothing: it would put further lines into the list.
    void SetValueByName(std::string_view name, std::string_view value);
    // The values of every header of that name, in order.
    void ExtractValues(std::string_view name, rtl::StringList* list) const;
    // Deletes the continuation lines after index.
    void DeleteContinuationLines(int index);
    // The folded physical lines of a header text.
    std::unique_ptr<rtl::StringList> FoldToLines(std::string_view text) const;
    // Replaces the line at index with the folded lines of text.
    void FoldAndInsertAt(std::string_view text, int index);

private:
    bool IsContinuation(int index) const;
    // Position of the separator's colon in the line, npos when there is none.
    size_t SeparatorPos(const std::string& line) const;
};
