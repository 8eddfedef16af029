// rtl/StringList.h: an ordered list of text lines, the system's workhorse for line files,
// name=value settings and delimited lists.
//
// The list owns its lines (a vector of std::string) and nothing else. Lines are compared
// without regard to case (rtl::CompareText) unless CaseSensitive is set. A sorted list keeps
// its order on Add and refuses Insert and Set, which would break it. Indexes are checked:
// a bad one raises rtl::EListError.
//
// Text forms:
//   Text()          every line followed by CR LF ("a\r\nb\r\n"); SetText splits at CR LF, LF
//                   or CR, and a final line break does not add an empty line.
//   DelimitedText   lines joined by Delimiter; a line that is empty in a one-line list, or
//                   holds a blank, a control character, QuoteChar or Delimiter is quoted with
//                   QuoteChar (inner quotes doubled). Reading splits at Delimiter and at
//                   blanks outside quotes, so "a b,c" gives three lines.
//   CommaText       DelimitedText with ',' and '"' whatever Delimiter and QuoteChar say.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace rtl {

// Splits a text into lines at CR LF, LF or CR and calls f with each line and the line end
// that closed it ("" for a last line without one); a final line end does not start another
// line. The one line splitter of the system's line files.
void SplitLines(std::string_view text,
                const std::function<void(std::string_view line, std::string_view eol)>& f);

enum class DuplicateMode {
    Ignore,  // Add of a line already in a sorted list does nothing and returns its index
    Accept,
    Error,  // Add of a line already in a sorted list raises rtl::EListError
};

class StringList {
public:
    StringList() = default;
    StringList(std::initializer_list<std::string> lines);

    int Count() const { return int(lines_.size()); }
    // Adds at the end, or at its place in a sorted list; returns the line's index.
    int Add(std::string_view s);
    void AddStrings(const StringList& other);
    void Insert(int index, std::string_view s);
    void Delete(int index);
    void Clear() { lines_.clear(); }
    void Exchange(int a, int b);

    const std::string& operator[](int index) const { return Strings(index); }
    const std::string& Strings(int index) const;
    void Set(int index, std::string_view s);

    // Index of the first line equal to s, or -1.
    int IndexOf(std::string_view s) const;
    // In a sorted list: true and the index of the first equal line, or false and the index
    // where s would go.
    bool Find(std::string_view s, int& index) const;

    // Name=value lines. A line without the separator has no name and no value.
    std::string Names(int index) const;
    std::string ValueFromIndex(int index) const;
    // The value of the first line whose name matches, or "".
    std::string Values(std::string_view name) const;
    // Sets the value of the first line of that name, adding a line when there is none; an
    // empty value deletes the line.
    void SetValue(std::string_view name, std::string_view value);
    int IndexOfName(std::string_view name) const;
    char NameValueSeparator() const { return nameValueSeparator_; }
    void SetNameValueSeparator(char c) { nameValueSeparator_ = c; }

    // Stable sort by the list's comparison.
    void Sort();
    bool Sorted() const { return sorted_; }
    void SetSorted(bool sorted);
    DuplicateMode Duplicates() const { return duplicates_; }
    void SetDuplicates(DuplicateMode d) { duplicates_ = d; }
    bool CaseSensitive() const { return caseSensitive_; }
    void SetCaseSensitive(bool on);

    std::string Text() const;
    void SetText(std::string_view text);

    char Delimiter() const { return delimiter_; }
    void SetDelimiter(char c) { delimiter_ = c; }
    char QuoteChar() const { return quoteChar_; }
    void SetQuoteChar(char c) { quoteChar_ = c; }
    std::string DelimitedText() const;
    void SetDelimitedText(std::string_view text);
    std::string CommaText() const;
    void SetCommaText(std::string_view text);

    // Lines from a file's bytes, split as SetText does; rtl::EFOpenError when it cannot be
    // read.
    void LoadFromFile(const std::string& fileName);
    // Writes Text(); rtl::EFOpenError when the file cannot be created.
    void SaveToFile(const std::string& fileName) const;

    const std::vector<std::string>& Lines() const { return lines_; }
    bool operator==(const StringList& other) const { return lines_ == other.lines_; }

private:
    int Compare(std::string_view a, std::string_view b) const;
    bool SameName(std::string_view a, std::string_view b) const;
    void CheckIndex(int index) const;
    std::string Delimited(char delimiter, char quote) const;
    void ParseDelimited(std::string_view text, char delimiter, char quote);

    std::vector<std::string> lines_;
    bool sorted_ = false;
    bool caseSensitive_ = false;
    DuplicateMode duplicates_ = DuplicateMode::Ignore;
    char delimiter_ = ',';
    char quoteChar_ = '"';
    char nameValueSeparator_ = '=';
};

}  // namespace rtl
