// rtl/IniFile.h: INI files read and written as the Windows profile functions do.
//
// Reading: section and key names are matched without regard to case and trimmed; a value is
// trimmed and one pair of double or single quotes around the whole value is removed; a
// missing file, section or key gives the default. Lines starting with ';' are comments; lines
// before the first section, and lines of a section without '=', are kept but mean nothing.
// When a section or a key appears more than once, the first occurrence wins; the keys of a
// repeated section are read as one section.
//
// Writing keeps every other line of the file byte for byte (comments, blank lines, order,
// line ends, unknown lines): a changed key keeps its spelling and the text up to its value; a
// new key goes after the last key line of its section (after the header when there is none);
// a new section is appended at the end; a missing file is created. A value that would not
// read back as written (blanks at either end, or enclosed in quotes) is written in double
// quotes. The new content replaces the file through a temporary file and a rename, so a crash
// leaves the old file or the new one, never half of one; in a folder that refuses new files to
// this user, a file it may write is written in place instead (rtl::ReplaceFileContent). A failed
// write raises rtl::EIniFileException "Unable to write to <file>", which carries the system's
// reason as a FileFailure (rtl/Stream.h; code 0 when none is known).
//
// The file is parsed once and later reads are served from memory until its size or its
// modification time (to the nanosecond) changes. Because file times are coarser than the
// clock on some file systems, a file changed within the last few seconds before it was read
// is read again at every access until it is older than that, so a change of the same size in
// the same clock tick is never missed. Every operation locks the object, so one instance may
// be shared between threads. A write always reads the file afresh, and writes are serialised
// across every object of the process, so two objects on one file (the settings reader and a
// writer) never write each other's changes away; another process writing at the same moment
// is not held off (the later rename wins, as with the profile functions).
//
// Unlike the profile functions, a value is never cut at 2047 characters: a long value reads
// back whole rather than silently shortened.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Exception.h"
#include "rtl/StringList.h"

namespace rtl {

RTL_EXCEPTION(EIniFileException, Exception);

class IniFile {
public:
    explicit IniFile(std::string fileName);
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    const std::string& FileName() const { return fileName_; }

    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    // Decimal, or hexadecimal after "0x" (or "$"); anything that is not a whole 32-bit
    // number gives the default.
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
    // An integer value: 0 is false, any other true; anything else gives the default.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;

    // Names must be non-empty and may not hold line breaks; a key may not hold '=' nor start
    // with '[' or ';', a section may not hold ']'; a value may not hold line breaks.
    // Violations raise rtl::EIniFileException before the file is touched.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int32_t value);
    // "1" or "0".
    void WriteBool(std::string_view section, std::string_view key, bool value);

    // The keys of a section, each once, as first spelt in the file.
    void ReadSection(std::string_view section, StringList& keys) const;
    // The sections, each once, in the order they first appear.
    void ReadSections(StringList& sections) const;
    // "key=value" lines of a section, values read as ReadString gives them.
    void ReadSectionValues(std::string_view section, StringList& values) const;
    // True when the section holds at least one key (a bare header does not count).
    bool SectionExists(std::string_view section) const;
    // True when the key is present, even with an empty value.
    bool ValueExists(std::string_view section, std::string_view key) const;
    // Removes every occurrence of the section with all its lines.
    void EraseSection(std::string_view section);
    // Removes every line of that key in the section.
    void DeleteKey(std::string_view section, std::string_view key);

    // How often this object, or any object, has parsed a file: tests use it to show that
    // repeated reads are served from memory.
    uint64_t ParseCount() const { return parseCount_.load(); }
    static uint64_t TotalParseCount() { return totalParseCount_.load(); }

private:
    struct Parsed;
    struct Stamp {
        bool exists = false;
        uintmax_t size = 0;
        std::filesystem::file_time_type mtime{};
        bool operator==(const Stamp&) const = default;
    };

    // Brings the parsed view up to date with the file; forWrite refuses a file that exists
    // but cannot be read, so a write never replaces content it could not see.
    const Parsed& Current(bool forWrite) const;
    // Raises the write error for this file with the system's reason that `cause` carries.
    [[noreturn]] void RaiseWriteFailure(const Exception& cause) const;
    void Commit(const std::vector<std::string>& lines, const std::string& before);

    std::string fileName_;
    mutable std::mutex mutex_;
    mutable std::unique_ptr<Parsed> parsed_;
    mutable Stamp stamp_;
    mutable bool trusted_ = false;
    mutable std::atomic<uint64_t> parseCount_{0};
    static std::atomic<uint64_t> totalParseCount_;
};

}  // namespace rtl
