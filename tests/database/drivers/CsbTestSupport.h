// tests/database/drivers/CsbTestSupport.h: what the SQLBase driver's tests share: the stand-in
// client library (its two variants, its journal and controls) and a connected driver object
// on a fresh folder of databases.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "database/OdbcTestSupport.h"
#include "database/drivers/SDCSb.h"
#include "platform/DynamicLibrary.h"
#include "rtl/Text.h"
#include "support/TestSupport.h"

namespace csbtest {

// "csb": every entry; "csb6": without the version 7 interface.
inline std::string StandinPath(const std::string& variant = "csb") {
#ifdef KW_CSB_STANDIN
    if (variant == "csb") return KW_CSB_STANDIN;
    if (variant == "csb6") return KW_CSB6_STANDIN;
#endif
    (void)variant;
    return "";
}

// The stand-in of one variant, loaded by the test to reach its controls; the driver's load of
// the same file shares its state. Each object starts from a reset stand-in whose databases
// live in a folder of its own.
class CsbStandin {
public:
    explicit CsbStandin(const std::string& variant = "csb") : path_(StandinPath(variant)) {
        if (path_.empty() || !lib_.Load(path_)) return;
        reset_ = Fn<void (*)()>("KwCsbStandinReset");
        reset_();
        Fn<void (*)(const char*)>("KwCsbStandinSetFolder")(folder_.path().c_str());
    }
    bool Available() const { return reset_ != nullptr; }
    const std::string& Path() const { return path_; }
    const std::filesystem::path& Folder() const { return folder_.path(); }
    // The SQLite file of a database name.
    std::filesystem::path File(const std::string& database) const { return folder_ / (database + ".db"); }

    std::string Journal() const { return Fn<const char* (*)()>("KwStandinJournal")(); }
    void Clear() const { Fn<void (*)()>("KwStandinClearJournal")(); }
    std::vector<std::string> Lines(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& line : rtl::SplitFields(Journal(), '\n'))
            if (line.rfind(prefix, 0) == 0) out.push_back(line);
        return out;
    }
    bool Logged(const std::string& line) const {
        for (const std::string& l : rtl::SplitFields(Journal(), '\n'))
            if (l == line) return true;
        return false;
    }
    void Fail(const std::string& call, int code, int count = 1) const {
        Fn<void (*)(const char*, int, int)>("KwCsbStandinFail")(call.c_str(), code, count);
    }
    void RefuseInit(bool refuse) const { Fn<void (*)(int)>("KwCsbStandinRefuseInit")(refuse ? 1 : 0); }
    void SetBrand(int brand, const std::string& version) const {
        Fn<void (*)(int, const char*)>("KwCsbStandinSetBrand")(brand, version.c_str());
    }
    void ShortRead(int bytes) const { Fn<void (*)(int)>("KwCsbStandinShortRead")(bytes); }
    int OpenCursors() const { return Fn<int (*)()>("KwCsbStandinOpenCursors")(); }
    int InitCount() const { return Fn<int (*)()>("KwCsbStandinInitCount")(); }

private:
    template <typename F>
    F Fn(const char* name) const {
        auto f = reinterpret_cast<F>(lib_.Symbol(name));
        if (f == nullptr) throw std::runtime_error(std::string("the stand-in has no ") + name);
        return f;
    }
    std::string path_;
    plat::DynamicLibrary lib_;
    kwtest::TempDir folder_;
    void (*reset_)() = nullptr;
};

inline rtl::StringList Params(const std::string& library, std::initializer_list<std::string> lines = {}) {
    rtl::StringList params;
    params.Add("SQLBase API LIBRARY=" + library);
    for (const std::string& l : lines)
        params.Add(l);
    return params;
}

// A driver object connected to the database name through the stand-in, disconnected at the
// end.
struct Session {
    std::unique_ptr<TISqlDatabase> db;

    Session(const CsbStandin& standin, std::initializer_list<std::string> params = {},
            const std::string& database = "KWDB", const std::string& user = "SYSADM",
            const std::string& password = "sysadm", TSDTransIsolation isolation = tiReadCommitted) {
        db = CreateSQLBaseDatabase(nullptr, Params(standin.Path(), params));
        db->TransIsolation = isolation;
        db->Connect(database, user, password);
    }
    ~Session() {
        if (db && db->GetHandle() != nullptr) {
            try {
                db->Disconnect(true);
            } catch (const std::exception&) {
            }
        }
        db.reset();
    }
    TISqlDatabase* operator->() const { return db.get(); }
    TICsbDatabase& Csb() const { return dynamic_cast<TICsbDatabase&>(*db); }
    void Exec(const std::string& sql) const { odbctest::Exec(*db, sql); }
    odbctest::Rows Query(const std::string& sql) const { return odbctest::Query(*db, sql); }
};

}  // namespace csbtest
