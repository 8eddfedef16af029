// database/drivers/SDClientLibrary.h: a driver's client library, bound by a name table.
//
// Each driver of this folder (PostgreSQL, MySQL, and the InterBase/Firebird pair) loads its
// server's client library by file name on the first connect and binds it entry by entry from
// a table of names, in the table's order. The state is process-wide, one object per driver
// unit: the file name, the module, a load count and a lock. What must stay true:
//   - the table is filled and cleared only under the lock, while the count goes from 0 to 1
//     or from 1 to 0; connections read the bound pointers without locking, which is safe
//     because a connection holds a count for as long as it may call them;
//   - a required entry the library lacks fails the load with the assertion "Function '%s'
//     not found in <server> library" (or the driver's own text) and leaves nothing loaded or
//     counted (a count kept for a half-bound library would let the next connect call the
//     empty entries); an optional entry simply stays nullptr;
//   - a library whose initialisation (afterLoad) fails is released again and not counted;
//   - the file name changes (through the factories' "<server> API LIBRARY" parameter) only
//     while nothing is loaded.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "database/engine/SDCommonLibrary.h"
#include "rtl/StringList.h"

// One entry of a name table: the exported name, the function pointer its address goes into
// (a typed pointer of a driver's function table, written byte for byte), whether a library
// without it is refused, and the name the missing-entry assertion shows (the exported name
// when none is given).
struct TSDClientEntry {
    const char* Name;
    void* Slot;
    bool Required;
    const char* DisplayName = nullptr;
};

class TSDClientLibrary {
public:
    // serverName names the library in the missing-entry assertion ("PostgreSQL", "MySQL",
    // "SQLBase Engine"); notFoundPattern, when given, is that assertion's whole text with "%s"
    // for the entry.
    TSDClientLibrary(std::string defaultName, TSDServerType serverType, std::string serverName,
                     std::string notFoundPattern = "");
    // Releases the library, whatever count connections forgot to give back.
    ~TSDClientLibrary();
    TSDClientLibrary(const TSDClientLibrary&) = delete;
    TSDClientLibrary& operator=(const TSDClientLibrary&) = delete;

    // The factories' rule: while nothing is loaded, a non-empty "<server> API LIBRARY"
    // parameter replaces the file name (for the rest of the process).
    void TakeNameFromParams(const rtl::StringList& params);
    // Adds one reference. The first loads the file (ESDSqlLibError "Error loading library
    // '%s'" when it cannot), counts it, binds the table (rtl::EAssertionFailed for a missing
    // required entry) and runs afterLoad, still under the lock; whatever afterLoad raises
    // passes on after the library was released.
    void Load(const std::vector<TSDClientEntry>& entries, void (*afterLoad)() = nullptr);
    // Drops one reference; the last runs beforeUnload, unloads the module and clears the
    // table. Nothing when the count is 0.
    void Unload(const std::vector<TSDClientEntry>& entries, void (*beforeUnload)() = nullptr);

    std::string FileName() const;
    int LoadCount() const;
    bool IsLoaded() const;
    // The file that was actually loaded ("" while none is).
    std::string LoadedName() const;
    // The version of the loaded file (GetFileVersionNumber), 0 while none is loaded.
    int32_t FileVersion() const;

private:
    const std::string defaultName_;
    const TSDServerType serverType_;
    const std::string serverName_;
    const std::string notFoundPattern_;
    mutable std::mutex lock_;
    std::string fileName_;
    TSDModule module_;
    int loadCount_ = 0;
    int32_t fileVersion_ = 0;
    const std::vector<TSDClientEntry>* bound_ = nullptr;
};
