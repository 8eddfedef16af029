// tests/database/drivers/OleDbTestSupport.h: what the OLE DB driver's tests share: the stand-in
// provider (its controls and journal), registered for the runtime under the provider names
// KWSQLITE and SQLOLEDB, and a connected driver object on a fresh SQLite file.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "database/OdbcTestSupport.h"
#include "database/drivers/SDOleDb.h"
#include "platform/DynamicLibrary.h"
#include "rtl/Text.h"
#include "support/TestSupport.h"

namespace oledbtest {

inline std::string StandinPath() {
#ifdef KW_OLEDB_STANDIN
    return KW_OLEDB_STANDIN;
#else
    return "";
#endif
}

// The stand-in provider, loaded by the test to reach its controls (the runtime's load of the
// same file shares its state), reset, and registered under two provider names while the
// object lives.
class OleDbStandin {
public:
    OleDbStandin()
        : path_(StandinPath()),
          generic_("KW_OLEDB_PROVIDER_KWSQLITE", path_),
          sqlServer_("KW_OLEDB_PROVIDER_SQLOLEDB", path_) {
        if (path_.empty() || !lib_.Load(path_)) return;
        reset_ = Fn<void (*)()>("KwOleDbStandinReset");
        reset_();
    }
    bool Available() const { return reset_ != nullptr; }
    const std::string& Path() const { return path_; }

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
    // "generic", "sqlserver" or "foxpro" for data sources whose string names none.
    void Identity(const std::string& name) const {
        Fn<void (*)(const char*)>("KwOleDbStandinIdentity")(name.c_str());
    }
    void Fail(const std::string& call, com::HRESULT hr, int32_t native = 0, int count = 1) const {
        Fn<void (*)(const char*, int32_t, int32_t, int)>("KwOleDbStandinFail")(call.c_str(), hr, native,
                                                                               count);
    }
    void UnknownLengths(bool on) const { Fn<void (*)(int)>("KwOleDbStandinUnknownLengths")(on ? 1 : 0); }
    void ShortReads(int bytes) const { Fn<void (*)(int)>("KwOleDbStandinShortReads")(bytes); }
    void RefuseProperty(uint32_t id) const { Fn<void (*)(uint32_t)>("KwOleDbStandinRefuseProperty")(id); }
    void SqlSupport(int32_t value) const { Fn<void (*)(int32_t)>("KwOleDbStandinSqlSupport")(value); }
    void IgnoreTypeRestriction(bool on) const {
        Fn<void (*)(int)>("KwOleDbStandinIgnoreTypeRestriction")(on ? 1 : 0);
    }
    int LiveObjects() const { return Fn<int (*)()>("KwOleDbStandinLiveObjects")(); }
    int OutstandingRows() const { return Fn<int (*)()>("KwOleDbStandinOutstandingRows")(); }

private:
    template <typename F>
    F Fn(const char* name) const {
        auto f = reinterpret_cast<F>(lib_.Symbol(name));
        if (f == nullptr) throw std::runtime_error(std::string("the stand-in has no ") + name);
        return f;
    }
    std::string path_;
    kwtest::ScopedEnv generic_;
    kwtest::ScopedEnv sqlServer_;
    plat::DynamicLibrary lib_;
    void (*reset_)() = nullptr;
};

inline rtl::StringList Params(std::initializer_list<std::string> lines = {}) {
    rtl::StringList params;
    for (const std::string& l : lines)
        params.Add(l);
    return params;
}

// A driver object connected through the stand-in to a fresh SQLite file (or to what the remote
// database names), disconnected at the end.
struct Session {
    kwtest::TempDir dir;
    std::filesystem::path file = dir / "oledb.db";
    std::unique_ptr<TISqlDatabase> db;

    explicit Session(std::initializer_list<std::string> params = {}, const std::string& extra = "",
                     const std::string& user = "sa", const std::string& password = "pw",
                     TSDTransIsolation isolation = tiReadCommitted) {
        db = CreateOLEDBDatabase(nullptr, Params(params));
        db->TransIsolation = isolation;
        db->Connect("PROVIDER=KWSQLITE;DATA SOURCE=" + file.string() + (extra.empty() ? "" : ";" + extra),
                    user, password);
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
    TIOleDbDatabase& OleDb() const { return dynamic_cast<TIOleDbDatabase&>(*db); }
    void Exec(const std::string& sql) const { odbctest::Exec(*db, sql); }
    odbctest::Rows Query(const std::string& sql) const { return odbctest::Query(*db, sql); }
};

}  // namespace oledbtest
