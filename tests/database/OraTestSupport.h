// tests/database/OraTestSupport.h: what the Oracle driver's tests share: the stand-in client
// library (its variants, its journal and controls), a folder of client libraries under the
// names the driver looks for, reached through ORACLE_HOME, and a connected driver object on a
// fresh SQLite file.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "database/OdbcTestSupport.h"
#include "database/oracle/SDOra.h"
#include "platform/DynamicLibrary.h"
#include "rtl/Text.h"
#include "support/TestSupport.h"

namespace oratest {

inline std::string StandinPath(const char* variant) {
    const std::string v = variant;
#ifdef KW_OCI_STANDIN
    if (v == "standin") return KW_OCI_STANDIN;
    if (v == "noenvcreate") return KW_OCI_NOENVCREATE;
    if (v == "noxa") return KW_OCI_NOXA;
    if (v == "nopiece") return KW_OCI_NOPIECE;
    if (v == "oci8only") return KW_OCI_OCI8ONLY;
#endif
    return "";
}

// The stand-in library of one variant, loaded by the test itself to reach its controls; the
// driver's load of the same file shares its state.
class OciStandin {
public:
    explicit OciStandin(const char* variant = "standin") : path_(StandinPath(variant)) {
        if (path_.empty() || !lib_.Load(path_)) return;
        reset_ = Fn<void (*)()>("KwOciStandinReset");
        if (reset_ != nullptr) reset_();
    }
    bool Available() const { return reset_ != nullptr; }
    const std::string& Path() const { return path_; }

    std::string Journal() const { return Fn<const char* (*)()>("KwStandinJournal")(); }
    void Clear() const { Fn<void (*)()>("KwStandinClearJournal")(); }
    // The journal lines that begin with the text.
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
        Fn<void (*)(const char*, int, int)>("KwOciStandinFail")(call.c_str(), code, count);
    }
    void AnswerStatus(const std::string& call, int status) const {
        Fn<void (*)(const char*, int)>("KwOciStandinAnswerStatus")(call.c_str(), status);
    }
    void SetServerVersion(const std::string& version) const {
        Fn<void (*)(const char*)>("KwOciStandinSetServerVersion")(version.c_str());
    }
    void SetTimeZone(const std::string& zone) const {
        Fn<void (*)(const char*)>("KwOciStandinSetTimeZone")(zone.c_str());
    }
    void SetAccount(const std::string& user, const std::string& password, bool expired = false) const {
        Fn<void (*)(const char*, const char*, int)>("KwOciStandinSetAccount")(user.c_str(), password.c_str(),
                                                                              expired ? 1 : 0);
    }
    void ForceLongPiece(int piece) const { Fn<void (*)(int)>("KwOciStandinForceLongPiece")(piece); }
    int OpenHandles() const { return Fn<int (*)()>("KwOciStandinOpenHandles")(); }

private:
    template <typename F>
    F Fn(const char* name) const {
        auto f = reinterpret_cast<F>(lib_.Symbol(name));
        if (f == nullptr) throw std::runtime_error(std::string("the stand-in has no ") + name);
        return f;
    }
    std::string path_;
    plat::DynamicLibrary lib_;
    void (*reset_)() = nullptr;
};

// The names the stand-in is installed under: a current client, which the driver finds by
// itself, and an OCI 7 client, which no installation names so and which is therefore given
// through "Oracle API LIBRARY".
inline const std::string kOci8Client = "libclntsh.so.19.1";
inline const std::string kOci7Client = "libclntsh.so.7.3";

// Whether the driver's own list holds the name.
inline bool OnTheDriversList(const std::string& name) {
    for (const std::string& item : rtl::SplitFields(kOciLibraryList, ';'))
        if (item == name) return true;
    return false;
}

// A folder standing for an Oracle home: lib/ holds links to a stand-in variant under the
// names given; ORACLE_HOME names the folder while the object lives. The driver's list goes
// back to the built-in one.
class OracleHome {
public:
    OracleHome(const std::vector<std::string>& names, const char* variant = "standin")
        : env_("ORACLE_HOME", dir_.path().string()) {
        std::filesystem::create_directories(dir_ / "lib");
        for (const std::string& name : names)
            std::filesystem::create_symlink(StandinPath(variant), dir_ / "lib" / name);
        if (OciLoadCount() == 0) SetOciLibraryList(kOciLibraryList);
    }
    ~OracleHome() {
        if (OciLoadCount() == 0) SetOciLibraryList(kOciLibraryList);
    }
    std::filesystem::path Lib(const std::string& name) const { return dir_ / "lib" / name; }
    const std::filesystem::path& Path() const { return dir_.path(); }
    // The parameter line that names the client lib/name to the factory.
    std::string ApiLibrary(const std::string& name) const {
        return "Oracle API LIBRARY=" + Lib(name).string();
    }

private:
    kwtest::TempDir dir_;
    kwtest::ScopedEnv env_;
};

// A stored procedure described by the driver, its values set by the caller, then executed.
inline TISqlCommandPtr RunProcedure(TISqlDatabase& db, const std::string& name, TParams& params,
                                    const std::function<void(TParams&)>& values = nullptr) {
    TISqlCommandPtr cmd = db.CreateSqlCommand(nullptr);
    cmd->CommandType = 2;
    cmd->SetParams(&params);
    cmd->SetCommandText(name);
    cmd->InitParamList();
    if (values) values(params);
    cmd->Prepare(name);
    cmd->Execute();
    return cmd;
}

inline rtl::StringList Params(std::initializer_list<std::string> lines = {}) {
    rtl::StringList params;
    for (const std::string& l : lines)
        params.Add(l);
    return params;
}

// A driver object connected to a fresh SQLite file through the stand-in, disconnected at the
// end. The client folder holds the stand-in as kOci8Client unless told otherwise; a name the
// driver does not look for by itself is given to it through "Oracle API LIBRARY".
struct Session {
    kwtest::TempDir dir;
    std::filesystem::path file = dir / "ora.db";
    std::unique_ptr<OracleHome> home;
    std::unique_ptr<TISqlDatabase> db;

    explicit Session(rtl::StringList params = Params(), const std::string& libraryName = kOci8Client,
                     const char* variant = "standin", const std::string& user = "scott",
                     const std::string& password = "tiger") {
        home = std::make_unique<OracleHome>(std::vector<std::string>{libraryName}, variant);
        if (!OnTheDriversList(libraryName)) params.Add(home->ApiLibrary(libraryName));
        db = CreateOracleDatabase(nullptr, params);
        db->Connect(file.string(), user, password);
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
    void Exec(const std::string& sql) const { odbctest::Exec(*db, sql); }
    odbctest::Rows Query(const std::string& sql) const { return odbctest::Query(*db, sql); }
};

}  // namespace oratest
