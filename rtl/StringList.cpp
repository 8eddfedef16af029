// rtl/StringList.cpp: the string list.
//
// The delimited-text reader is a small state machine over the text: skip blanks, read one
// item (quoted or bare), skip blanks, expect a delimiter or the end. Bytes are compared as
// unsigned values, so UTF-8 letters are never taken for blanks.
#include "rtl/StringList.h"

#include <algorithm>

#include "rtl/ByteReader.h"
#include "rtl/Exception.h"
#include "rtl/Format.h"
#include "rtl/Stream.h"
#include "rtl/Text.h"

namespace rtl {

namespace {

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

}  // namespace

void SplitLines(std::string_view text, const std::function<void(std::string_view, std::string_view)>& f) {
    ByteReader r(text);
    while (!r.eof()) {
        const size_t start = r.position();
        // A plain scan for the line's end: find_first_of with a set calls memchr over the set
        // once per character of the text, which made splitting a long file slow.
        size_t end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        r.skip(end - start);
        if (!r.eof() && r.u8() == '\r' && !r.eof() && r.peek() == '\n') r.skip(1);
        f(text.substr(start, end - start), text.substr(end, r.position() - end));
    }
}

StringList::StringList(std::initializer_list<std::string> lines) : lines_(lines) {}

int StringList::Compare(std::string_view a, std::string_view b) const {
    if (caseSensitive_) {
        const int c = a.compare(b);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    return CompareText(a, b);
}

bool StringList::SameName(std::string_view a, std::string_view b) const {
    return Compare(a, b) == 0;
}

void StringList::CheckIndex(int index) const {
    if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", index));
}

int StringList::Add(std::string_view s) {
    if (!sorted_) {
        lines_.emplace_back(s);
        return Count() - 1;
    }
    int index = 0;
    if (Find(s, index)) {
        if (duplicates_ == DuplicateMode::Ignore) return index;
        if (duplicates_ == DuplicateMode::Error) throw EListError("String list does not allow duplicates");
        // Accepted duplicates go after their equals, so adding keeps the order of arrival.
        while (index < Count() && Compare(lines_[size_t(index)], s) == 0)
            ++index;
    }
    lines_.emplace(lines_.begin() + index, s);
    return index;
}

void StringList::AddStrings(const StringList& other) {
    // A copy first: other may be this list.
    const std::vector<std::string> lines = other.lines_;
    for (const auto& s : lines)
        Add(s);
}

void StringList::Insert(int index, std::string_view s) {
    if (sorted_) throw EListError("Operation not allowed on sorted list");
    if (index < 0 || index > Count()) throw EListError(Format("List index out of bounds (%d)", index));
    lines_.emplace(lines_.begin() + index, s);
}

void StringList::Delete(int index) {
    CheckIndex(index);
    lines_.erase(lines_.begin() + index);
}

void StringList::Exchange(int a, int b) {
    if (sorted_) throw EListError("Operation not allowed on sorted list");
    CheckIndex(a);
    CheckIndex(b);
    std::swap(lines_[size_t(a)], lines_[size_t(b)]);
}

const std::string& StringList::Strings(int index) const {
    CheckIndex(index);
    return lines_[size_t(index)];
}

void StringList::Set(int index, std::string_view s) {
    if (sorted_) throw EListError("Operation not allowed on sorted list");
    CheckIndex(index);
    lines_[size_t(index)] = std::string(s);
}

int StringList::IndexOf(std::string_view s) const {
    if (sorted_) {
        int index = 0;
        return Find(s, index) ? index : -1;
    }
    for (int i = 0; i < Count(); ++i)
        if (Compare(lines_[size_t(i)], s) == 0) return i;
    return -1;
}

bool StringList::Find(std::string_view s, int& index) const {
    if (!sorted_) {
        index = IndexOf(s);
        return index >= 0;
    }
    const auto it =
        std::lower_bound(lines_.begin(), lines_.end(), s,
                         [this](const std::string& a, std::string_view b) { return Compare(a, b) < 0; });
    index = int(it - lines_.begin());
    return it != lines_.end() && Compare(*it, s) == 0;
}

std::string StringList::Names(int index) const {
    const std::string& s = Strings(index);
    const size_t p = s.find(nameValueSeparator_);
    return p == std::string::npos ? std::string() : s.substr(0, p);
}

std::string StringList::ValueFromIndex(int index) const {
    const std::string& s = Strings(index);
    const size_t p = s.find(nameValueSeparator_);
    // A line without a separator has no value (not the line less its first character).
    return p == std::string::npos ? std::string() : s.substr(p + 1);
}

int StringList::IndexOfName(std::string_view name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string& s = lines_[size_t(i)];
        const size_t p = s.find(nameValueSeparator_);
        if (p != std::string::npos && SameName(std::string_view(s).substr(0, p), name)) return i;
    }
    return -1;
}

std::string StringList::Values(std::string_view name) const {
    const int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

void StringList::SetValue(std::string_view name, std::string_view value) {
    const int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) Delete(i);
        return;
    }
    std::string line(name);
    line += nameValueSeparator_;
    line += value;
    if (i < 0) {
        Add(line);
    } else if (sorted_) {
        // The line's place may change with its value.
        Delete(i);
        Add(line);
    } else {
        lines_[size_t(i)] = std::move(line);
    }
}

void StringList::Sort() {
    std::stable_sort(lines_.begin(), lines_.end(),
                     [this](const std::string& a, const std::string& b) { return Compare(a, b) < 0; });
}

void StringList::SetSorted(bool sorted) {
    if (sorted && !sorted_) Sort();
    sorted_ = sorted;
}

void StringList::SetCaseSensitive(bool on) {
    if (on == caseSensitive_) return;
    caseSensitive_ = on;
    if (sorted_) Sort();
}

std::string StringList::Text() const {
    std::string out;
    size_t total = 0;
    for (const auto& s : lines_)
        total += s.size() + 2;
    out.reserve(total);
    for (const auto& s : lines_) {
        out += s;
        out += "\r\n";
    }
    return out;
}

void StringList::SetText(std::string_view text) {
    std::vector<std::string> lines;
    SplitLines(text, [&](std::string_view line, std::string_view) { lines.emplace_back(line); });
    lines_.clear();
    if (sorted_) {
        for (auto& s : lines)
            Add(s);
    } else {
        lines_ = std::move(lines);
    }
}

std::string StringList::Delimited(char delimiter, char quote) const {
    if (lines_.size() == 1 && lines_[0].empty()) return std::string(2, quote);
    std::string out;
    for (size_t i = 0; i < lines_.size(); ++i) {
        const std::string& s = lines_[i];
        if (i > 0) out += delimiter;
        const bool needsQuotes = std::any_of(
            s.begin(), s.end(), [&](char c) { return IsBlankOrControl(c) || c == quote || c == delimiter; });
        if (needsQuotes)
            out += QuotedStr(s, quote);
        else
            out += s;
    }
    return out;
}

void StringList::ParseDelimited(std::string_view text, char delimiter, char quote) {
    std::vector<std::string> items;
    size_t i = 0;
    const size_t n = text.size();
    auto skipBlanks = [&] {
        while (i < n && IsBlankOrControl(text[i]))
            ++i;
    };
    skipBlanks();
    while (i < n) {
        std::string item;
        if (text[i] == quote) {
            // Quoted item: a doubled quote stands for one; an unclosed quote runs to the end.
            ++i;
            while (i < n) {
                if (text[i] == quote) {
                    if (i + 1 < n && text[i + 1] == quote) {
                        item += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                item += text[i++];
            }
        } else {
            const size_t b = i;
            while (i < n && !IsBlankOrControl(text[i]) && text[i] != delimiter)
                ++i;
            item.assign(text.substr(b, i - b));
        }
        items.push_back(std::move(item));
        skipBlanks();
        if (i < n && text[i] == delimiter) {
            ++i;
            // A delimiter at the very end stands before one more, empty, item.
            if (i == n) items.emplace_back();
            skipBlanks();
        }
    }
    lines_.clear();
    if (sorted_) {
        for (auto& s : items)
            Add(s);
    } else {
        lines_ = std::move(items);
    }
}

std::string StringList::DelimitedText() const {
    return Delimited(delimiter_, quoteChar_);
}
void StringList::SetDelimitedText(std::string_view text) {
    ParseDelimited(text, delimiter_, quoteChar_);
}
std::string StringList::CommaText() const {
    return Delimited(',', '"');
}
void StringList::SetCommaText(std::string_view text) {
    ParseDelimited(text, ',', '"');
}

void StringList::LoadFromFile(const std::string& fileName) {
    std::string bytes;
    try {
        bytes = ReadFileBytes(fileName);
    } catch (const EReadError& e) {
        throw EFOpenError(e.Message());
    }
    SetText(bytes);
}

void StringList::SaveToFile(const std::string& fileName) const {
    FileStream f(fileName, FileMode::Create);
    try {
        f.WriteBuffer(Text());
    } catch (const EWriteError& e) {
        throw EFOpenError(e.Message());
    }
}

}  // namespace rtl
