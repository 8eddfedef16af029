// rtl/IniFile.cpp: INI files with the Windows profile rules.
//
// The parsed form keeps every line of the file as it was read (its bytes and its own line
// end) together with what the line means (a section header, a key, or anything else). Reads
// go through an index built from it; writes edit a copy of the raw lines and write them back
// whole, which is how every unrelated line survives byte for byte.
#include "rtl/IniFile.h"

#include <chrono>
#include <unordered_map>

#include "rtl/Stream.h"
#include "rtl/Text.h"

namespace rtl {

namespace fs = std::filesystem;

std::atomic<uint64_t> IniFile::totalParseCount_{0};

namespace {

// Held by every write of every object, from reading the file to renaming the new content into
// place: two objects on one file (the settings reader and a writer) each replace the file
// whole, and without it the later rename would drop what the earlier one wrote.
std::mutex& WriteMutex() {
    static std::mutex m;
    return m;
}

// A file changed less than this long before it was read is not trusted to show its next
// change in its time stamp: file times are taken from a coarse clock (a tick on Linux, two
// seconds on FAT), so a same-size rewrite in the same tick would look unchanged.
constexpr auto kRacyWindow = std::chrono::seconds(3);

enum class LineKind { Other, Section, Key };

struct Line {
    std::string content;  // the line without its line end
    std::string eol;      // "\r\n", "\n", "\r" or "" (last line without one)
    LineKind kind = LineKind::Other;
    std::string name;       // section or key name, trimmed, as spelt
    std::string nameUpper;  // the same, upper-cased, for lookups
    std::string value;      // key lines: the value as read
    size_t prefixLen = 0;   // key lines: bytes of content before the value text
};

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string Unquote(std::string v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

Line ParseLine(std::string content, std::string eol, bool inSection, bool first) {
    Line line;
    line.content = std::move(content);
    line.eol = std::move(eol);
    std::string_view text = line.content;
    // A UTF-8 byte order mark in front of the first line is not part of its text.
    if (first && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    const std::string trimmed = Trim(text);
    if (trimmed.empty() || trimmed[0] == ';') return line;
    if (trimmed[0] == '[') {
        const size_t close = trimmed.find(']');
        line.kind = LineKind::Section;
        line.name = Trim(
            std::string_view(trimmed).substr(1, close == std::string::npos ? std::string::npos : close - 1));
        line.nameUpper = UpperCase(line.name);
        return line;
    }
    if (!inSection) return line;
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) return line;
    std::string key = Trim(text.substr(0, eq));
    if (key.empty()) return line;
    line.kind = LineKind::Key;
    line.name = std::move(key);
    line.nameUpper = UpperCase(line.name);
    line.value = Unquote(Trim(text.substr(eq + 1)));
    size_t p = size_t(text.data() - line.content.data()) + eq + 1;
    while (p < line.content.size() && (line.content[p] == ' ' || line.content[p] == '\t'))
        ++p;
    line.prefixLen = p;
    return line;
}

struct KeyEntry {
    std::string name;
    std::string value;
};

struct SectionView {
    std::string name;
    std::vector<KeyEntry> keys;
    std::unordered_map<std::string, size_t> keyIndex;
};

std::string ToUpperTrimmed(std::string_view s) {
    return UpperCase(Trim(s));
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

struct IniFile::Parsed {
    std::vector<Line> lines;
    std::string eol = "\r\n";  // the file's own line end, for lines we add
    std::vector<SectionView> sections;
    std::unordered_map<std::string, size_t> sectionIndex;

    explicit Parsed(std::string_view bytes) {
        bool inSection = false;
        SplitLines(bytes, [&](std::string_view text, std::string_view end) {
            Line l = ParseLine(std::string(text), std::string(end), inSection, lines.empty());
            if (l.kind == LineKind::Section) inSection = true;
            lines.push_back(std::move(l));
        });
        // Lines added later end as the file's lines do.
        for (const Line& l : lines) {
            if (!l.eol.empty()) {
                eol = l.eol;
                break;
            }
        }
        Index();
    }

    void Index() {
        SectionView* current = nullptr;
        for (const Line& l : lines) {
            if (l.kind == LineKind::Section) {
                auto [it, added] = sectionIndex.try_emplace(l.nameUpper, sections.size());
                if (added) sections.push_back(SectionView{l.name, {}, {}});
                current = &sections[it->second];
            } else if (l.kind == LineKind::Key && current != nullptr) {
                auto [it, added] = current->keyIndex.try_emplace(l.nameUpper, current->keys.size());
                if (added) current->keys.push_back(KeyEntry{l.name, l.value});
            }
        }
    }

    const SectionView* Find(std::string_view section) const {
        const auto it = sectionIndex.find(ToUpperTrimmed(section));
        return it == sectionIndex.end() ? nullptr : &sections[it->second];
    }

    const KeyEntry* Find(std::string_view section, std::string_view key) const {
        const SectionView* s = Find(section);
        if (s == nullptr) return nullptr;
        const auto it = s->keyIndex.find(ToUpperTrimmed(key));
        return it == s->keyIndex.end() ? nullptr : &s->keys[it->second];
    }

    std::vector<std::string> Raw() const {
        std::vector<std::string> raw;
        raw.reserve(lines.size());
        for (const Line& l : lines)
            raw.push_back(l.content + l.eol);
        return raw;
    }

    std::string Content() const {
        std::string out;
        for (const Line& l : lines) {
            out += l.content;
            out += l.eol;
        }
        return out;
    }
};

IniFile::IniFile(std::string fileName) : fileName_(std::move(fileName)) {}

void IniFile::RaiseWriteFailure(const Exception& cause) const {
    const FileFailure* f = FileFailureIn(cause);
    throw FileFailureOf<EIniFileException>("Unable to write to " + fileName_, fileName_,
                                           f != nullptr ? f->Code() : 0);
}
IniFile::~IniFile() = default;

const IniFile::Parsed& IniFile::Current(bool forWrite) const {
    const auto now = fs::file_time_type::clock::now();
    Stamp stamp;
    std::error_code ec;
    const fs::file_status st = fs::status(fileName_, ec);
    bool statFailed = false;
    int statError = 0;
    if (!ec && fs::exists(st)) {
        stamp.exists = true;
        stamp.size = fs::file_size(fileName_, ec);
        if (ec) statError = ec.value();
        stamp.mtime = fs::last_write_time(fileName_, ec);
        if (ec && statError == 0) statError = ec.value();
        statFailed = statError != 0;
    } else if (ec && ec != std::errc::no_such_file_or_directory) {
        statFailed = true;
        statError = ec.value();
        stamp.exists = true;
    }
    // A write always starts from what is on disk now: it replaces the whole file, so a view
    // that missed a change would write that change away.
    if (!forWrite && parsed_ && trusted_ && !statFailed && stamp == stamp_) return *parsed_;

    std::string bytes;
    bool readable = true;
    if (stamp.exists) {
        try {
            if (statFailed)
                throw FileFailureOf<EFOpenError>("Cannot open file \"" + fileName_ + "\"", fileName_,
                                                 statError);
            bytes = ReadFileBytes(fileName_);
        } catch (const Exception& e) {
            // A reader sees an unreadable file as an empty one, as the profile functions do;
            // a writer must not replace content it could not see.
            if (forWrite) RaiseWriteFailure(e);
            readable = false;
        }
    }
    parsed_ = std::make_unique<Parsed>(bytes);
    ++parseCount_;
    ++totalParseCount_;
    stamp_ = stamp;
    trusted_ = readable && (!stamp.exists || stamp.mtime + kRacyWindow < now);
    return *parsed_;
}

void IniFile::Commit(const std::vector<std::string>& lines, const std::string& before) {
    std::string content;
    for (const auto& l : lines)
        content += l;
    if (content == before) return;  // nothing changed: leave the file and its time alone
    try {
        ReplaceFileContent(fileName_, content);
    } catch (const Exception& e) {
        parsed_.reset();
        RaiseWriteFailure(e);
    }
    parsed_.reset();  // the next access reads what is on disk now
}

std::string IniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
    std::lock_guard lock(mutex_);
    const KeyEntry* e = Current(false).Find(section, key);
    return e != nullptr ? e->value : std::string(def);
}

int32_t IniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
    const std::string s = ReadString(section, key, "");
    std::string_view hex;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        hex = std::string_view(s).substr(2);
    else if (s.size() > 1 && s[0] == '$')
        hex = std::string_view(s).substr(1);
    if (!hex.empty()) {
        // Hexadecimal is a 32-bit pattern: 0xFFFFFFFF is -1.
        uint64_t v = 0;
        for (char c : hex) {
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return def;
            v = v * 16 + uint64_t(d);
            if (v > 0xFFFFFFFFu) return def;
        }
        return int32_t(uint32_t(v));
    }
    int32_t v = 0;
    return TryStrToInt(s, v) ? v : def;
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    const std::string sec = Trim(section);
    const std::string k = Trim(key);
    if (sec.empty() || HasLineBreak(sec) || sec.find(']') != std::string::npos)
        throw EIniFileException("Invalid section name \"" + std::string(section) + "\" for " + fileName_);
    if (k.empty() || HasLineBreak(k) || k.find('=') != std::string::npos || k[0] == '[' || k[0] == ';')
        throw EIniFileException("Invalid key name \"" + std::string(key) + "\" for " + fileName_);
    if (HasLineBreak(value))
        throw EIniFileException("Invalid value for key \"" + k + "\" of " + fileName_ +
                                ": line breaks are not allowed");

    std::string encoded(value);
    const bool blankEdge = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()));
    if (blankEdge || Unquote(encoded).size() != encoded.size()) encoded = "\"" + encoded + "\"";

    std::scoped_lock lock(WriteMutex(), mutex_);
    const Parsed& p = Current(true);
    const std::string before = p.Content();
    std::vector<std::string> raw = p.Raw();
    const std::string secU = UpperCase(sec);
    const std::string keyU = UpperCase(k);

    // An existing key: the first line of it in the first occurrences of the section.
    std::string current;
    long header = -1;   // first header of the section
    long lastKey = -1;  // last key line of that first occurrence
    bool inFirst = false;
    for (size_t i = 0; i < p.lines.size(); ++i) {
        const Line& l = p.lines[i];
        if (l.kind == LineKind::Section) {
            current = l.nameUpper;
            inFirst = (current == secU && header < 0);
            if (inFirst) header = long(i);
        } else if (l.kind == LineKind::Key && current == secU) {
            if (l.nameUpper == keyU) {
                raw[i] = l.content.substr(0, l.prefixLen) + encoded + l.eol;
                Commit(raw, before);
                return;
            }
            if (inFirst) lastKey = long(i);
        }
    }

    std::string keyLine = k + "=" + encoded + p.eol;
    auto terminate = [&](size_t i) {
        if (p.lines[i].eol.empty()) raw[i] += p.eol;
    };
    if (header >= 0) {
        const size_t after = size_t(lastKey >= 0 ? lastKey : header);
        terminate(after);
        // A lone CR before a line that starts with LF would join them into one line end and
        // swallow that (empty) line.
        if (after + 1 < raw.size() && keyLine.back() == '\r' && !raw[after + 1].empty() &&
            raw[after + 1].front() == '\n')
            keyLine += '\n';
        raw.insert(raw.begin() + long(after) + 1, keyLine);
    } else {
        if (!raw.empty()) terminate(raw.size() - 1);
        raw.push_back("[" + sec + "]" + p.eol);
        raw.push_back(keyLine);
    }
    Commit(raw, before);
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
    WriteString(section, key, IntToStr(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void IniFile::ReadSection(std::string_view section, StringList& keys) const {
    std::lock_guard lock(mutex_);
    keys.Clear();
    if (const SectionView* s = Current(false).Find(section))
        for (const auto& e : s->keys)
            keys.Add(e.name);
}

void IniFile::ReadSections(StringList& sections) const {
    std::lock_guard lock(mutex_);
    sections.Clear();
    for (const auto& s : Current(false).sections)
        sections.Add(s.name);
}

void IniFile::ReadSectionValues(std::string_view section, StringList& values) const {
    std::lock_guard lock(mutex_);
    values.Clear();
    if (const SectionView* s = Current(false).Find(section))
        for (const auto& e : s->keys)
            values.Add(e.name + "=" + e.value);
}

bool IniFile::SectionExists(std::string_view section) const {
    std::lock_guard lock(mutex_);
    const SectionView* s = Current(false).Find(section);
    return s != nullptr && !s->keys.empty();
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
    std::lock_guard lock(mutex_);
    return Current(false).Find(section, key) != nullptr;
}

void IniFile::EraseSection(std::string_view section) {
    std::scoped_lock lock(WriteMutex(), mutex_);
    const Parsed& p = Current(true);
    const std::string secU = ToUpperTrimmed(section);
    std::vector<std::string> raw;
    bool inside = false;
    for (const Line& l : p.lines) {
        if (l.kind == LineKind::Section) inside = (l.nameUpper == secU);
        if (!inside) raw.push_back(l.content + l.eol);
    }
    if (raw.size() != p.lines.size()) Commit(raw, p.Content());
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
    std::scoped_lock lock(WriteMutex(), mutex_);
    const Parsed& p = Current(true);
    const std::string secU = ToUpperTrimmed(section);
    const std::string keyU = ToUpperTrimmed(key);
    std::vector<std::string> raw;
    std::string current;
    for (const Line& l : p.lines) {
        if (l.kind == LineKind::Section) current = l.nameUpper;
        if (l.kind == LineKind::Key && current == secU && l.nameUpper == keyU) continue;
        raw.push_back(l.content + l.eol);
    }
    if (raw.size() != p.lines.size()) Commit(raw, p.Content());
}

}  // namespace rtl
