// platform/DynamicLibrary.h: shared libraries loaded by name at run time.
//
// Client libraries (ODBC, PostgreSQL, MySQL, ...) and OpenSSL are loaded by a list of
// candidate file names and bound entry point by entry point; a missing entry point is
// reported by name, so a wrong library version gives a clear error.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Exception.h"

namespace plat {

RTL_EXCEPTION(EDynamicLibraryError, rtl::Exception);

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;

    // Tries each name in turn (a bare name goes through the loader's search path, a name
    // with a '/' is a file); true when one loaded. Unloads what was loaded before.
    bool Load(const std::vector<std::string>& candidates);
    bool Load(const std::string& name) { return Load(std::vector<std::string>{name}); }
    // Load({"a.so", "b.so"}): without this, two names would also read as a string's
    // (first, last) pair and the call would be ambiguous.
    bool Load(std::initializer_list<std::string> candidates) {
        return Load(std::vector<std::string>(candidates));
    }
    // As Load, raising EDynamicLibraryError naming every candidate when none loads.
    void LoadOrThrow(const std::vector<std::string>& candidates);
    void Unload();
    // The library stays in the process after Unload and destruction (its code may still be
    // running on a thread that outlives this object); only the handle is forgotten.
    void KeepLoaded() { keepLoaded_ = true; }

    bool IsLoaded() const { return handle_ != nullptr; }
    // The candidate that loaded.
    const std::string& LoadedName() const { return loadedName_; }
    // The loader's message for the last failed Load.
    const std::string& LastError() const { return lastError_; }

    // The address of an entry point, or nullptr when the library has none of that name.
    void* Symbol(const char* name) const;
    // The entry point as a function pointer; raises EDynamicLibraryError naming it when missing.
    template <typename F>
    F Bind(const char* name) const {
        return reinterpret_cast<F>(Required(name));
    }
    // The first of the names that the library lacks, or "" when it has them all.
    std::string FirstMissing(std::initializer_list<const char*> names) const;

    // "a.so;b.so" -> {"a.so", "b.so"} (blanks trimmed, empty entries dropped).
    static std::vector<std::string> SplitNames(std::string_view list);

private:
    void* Required(const char* name) const;

    void* handle_ = nullptr;
    std::string loadedName_;
    std::string lastError_;
    bool keepLoaded_ = false;
};

}  // namespace plat
