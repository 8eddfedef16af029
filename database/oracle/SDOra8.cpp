// database/oracle/SDOra8.cpp: the Oracle driver's OCI 8 connection (unit SDOra).
//
// States: created (no handle record) -> connected (handle record, session begun, the
// date-time and temporary-LOB flags and the session time zone read) -> disconnected (record
// freed, the connection's load released) -> may connect again, taking a load again. SetHandle
// puts the object into the connected state on handles made elsewhere; the flags then stay off.
#include <cstring>

#include "database/engine/SDCommonSqlText.h"
#include "database/oracle/SDOra.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using namespace ociapi;

namespace {

bool Flag(const rtl::StringList& params, const char* name) {
    return rtl::UpperCase(rtl::Trim(params.Values(name))) == STrueString;
}

OraText* Text(const std::string& s) {
    return reinterpret_cast<OraText*>(const_cast<char*>(s.c_str()));
}

}  // namespace

TIOra8Database::TIOra8Database(rtl::Component* owner, const rtl::StringList& params)
    : TISqlDatabase(owner, params, stOracle) {
    enableIntegers_ = Flag(Params, "ENABLE INTEGERS");
    xaConnection_ = Flag(Params, "XA CONNECTION");
}

TIOra8Database::~TIOra8Database() {
    // The engine disconnects before it frees the driver; what is left is a load the
    // connection took but never used (a database that never connected).
    if (!handle_) ReleaseLibraryLoad();
}

void TIOra8Database::ReleaseLibraryLoad() {
    if (!holdsLoad_) return;
    holdsLoad_ = false;
    UnloadOciLibrary();
}

int32_t TIOra8Database::MaxCharParamLength() const {
    int32_t value = 0;
    return rtl::TryStrToInt(rtl::Trim(Params.Values("MAXCHARPARAMLEN")), value) ? value : 255;
}

void TIOra8Database::Check(sword status, OCIStmt* stmt) {
    MarkActivity();
    if (status == OCI_SUCCESS || status == OCI_SUCCESS_WITH_INFO) return;
    EndWaitCursor();
    if (ErrHandle() != nullptr) RaiseOci8Error(ErrHandle(), status, stmt, this, OCI_HTYPE_ERROR);
    RaiseOci8Error(EnvHandle(), status, stmt, this, OCI_HTYPE_ENV);
}

void TIOra8Database::DoConnect(const std::string& remoteDatabase, const std::string& userName,
                               const std::string& password) {
    if (!holdsLoad_) {
        LoadOciLibrary(false);
        holdsLoad_ = true;
    }
    rtl::Assert(handle_ == nullptr, "TIOra8Database.AllocHandle");
    handle_ = std::make_unique<TOra8HandleRec>();
    TOra8HandleRec& h = *handle_;
    const TOci8Functions& f = Oci8();
    dateTimeUsable_ = tempLobsUsable_ = false;
    sessionTimeZone_.clear();

    if (xaConnection_) {
        for (const char* name : {"xaoEnv", "xaoSvcCtx"})
            if (!Oci8FunctionExists(name))
                rtl::DatabaseErrorFmt("Function '%s' not found in OCI library", name);
        h.Env = f.xaoEnv(Text(remoteDatabase));
        if (h.Env == nullptr) rtl::DatabaseErrorFmt("Function \"%s\" failed", "xaoEnv");
        h.Svc = f.xaoSvcCtx(Text(remoteDatabase));
        if (h.Svc == nullptr) rtl::DatabaseErrorFmt("Function \"%s\" failed", "xaoSvcCtx");
        Check(f.OCIHandleAlloc(h.Env, &h.Err, OCI_HTYPE_ERROR, 0, nullptr));
    } else {
        if (f.OCIEnvCreate != nullptr)
            Check(
                f.OCIEnvCreate(&h.Env, OCI_THREADED_OBJECT, nullptr, nullptr, nullptr, nullptr, 0, nullptr));
        else
            Check(f.OCIEnvInit(&h.Env, OCI_DEFAULT, 0, nullptr));
        Check(f.OCIHandleAlloc(h.Env, &h.Err, OCI_HTYPE_ERROR, 0, nullptr));
        Check(f.OCIHandleAlloc(h.Env, &h.Svc, OCI_HTYPE_SVCCTX, 0, nullptr));
        Check(f.OCIHandleAlloc(h.Env, &h.Srv, OCI_HTYPE_SERVER, 0, nullptr));
        Check(f.OCIServerAttach(h.Srv, h.Err, Text(remoteDatabase), sb4(remoteDatabase.size()), OCI_DEFAULT));
        Check(f.OCIAttrSet(h.Svc, OCI_HTYPE_SVCCTX, h.Srv, 0, OCI_ATTR_SERVER, h.Err));
        Check(f.OCIHandleAlloc(h.Env, &h.Session, OCI_HTYPE_SESSION, 0, nullptr));
        Check(f.OCIAttrSet(h.Session, OCI_HTYPE_SESSION, Text(userName), ub4(userName.size()),
                           OCI_ATTR_USERNAME, h.Err));
        Check(f.OCIAttrSet(h.Session, OCI_HTYPE_SESSION, Text(password), ub4(password.size()),
                           OCI_ATTR_PASSWORD, h.Err));
        const ub4 credentials = rtl::Trim(password).empty() ? OCI_CRED_EXT : OCI_CRED_RDBMS;
        const std::string role = rtl::Trim(Params.Values("ROLE NAME"));
        const ub4 mode = role == "SYSDBA" ? OCI_SYSDBA : role == "SYSOPER" ? OCI_SYSOPER : OCI_DEFAULT;
        Check(f.OCIAttrSet(h.Svc, OCI_HTYPE_SVCCTX, h.Session, 0, OCI_ATTR_SESSION, h.Err));
        const sword status = f.OCISessionBegin(h.Svc, h.Err, h.Session, credentials, mode);
        const std::string newPassword = rtl::Trim(Params.Values("NEW PASSWORD"));
        if (status == OCI_ERROR && !newPassword.empty() &&
            GetOci8ErrorCode(h.Err, status) == kOraPasswordExpired) {
            // The change begins the session with the new password.
            MarkActivity();
            Check(f.OCIPasswordChange(h.Svc, h.Err, Text(userName), ub4(userName.size()), Text(password),
                                      ub4(password.size()), Text(newPassword), ub4(newPassword.size()),
                                      OCI_AUTH));
        } else {
            Check(status);
        }
    }

    SetTransIsolation(TransIsolation);
    const bool recent = GetVersionMajor(GetServerVersion()) >= 9 && GetVersionMajor(GetClientVersion()) >= 9;
    if (recent) {
        rtl::StringList zone;
        QueryColumnValues("select sessiontimezone from dual", zone);
        if (zone.Count() > 0) sessionTimeZone_ = zone[0];
        dateTimeUsable_ = tempLobsUsable_ = true;
    }
}

void TIOra8Database::DoDisconnect(bool force) {
    if (!handle_) return;
    TOra8HandleRec& h = *handle_;
    const TOci8Functions& f = Oci8();
    // The record and the load go whatever fails below; a failure is raised after that.
    struct Release {
        TIOra8Database& db;
        ~Release() {
            db.handle_.reset();
            db.dateTimeUsable_ = db.tempLobsUsable_ = false;
            db.ReleaseLibraryLoad();
        }
    } release{*this};
    if (InTransaction && h.Svc != nullptr && h.Err != nullptr) f.OCITransRollback(h.Svc, h.Err, OCI_DEFAULT);
    if (h.Session != nullptr) {
        const sword status = f.OCISessionEnd(h.Svc, h.Err, h.Session, OCI_DEFAULT);
        if (!force) Check(status);
        Check(f.OCIHandleFree(h.Session, OCI_HTYPE_SESSION));
        h.Session = nullptr;
    }
    if (h.Srv != nullptr) {
        const sword status = f.OCIServerDetach(h.Srv, h.Err, OCI_DEFAULT);
        if (!force) Check(status);
        Check(f.OCIHandleFree(h.Srv, OCI_HTYPE_SERVER));
        h.Srv = nullptr;
    }
    if (!xaConnection_) {
        if (h.Svc != nullptr) Check(f.OCIHandleFree(h.Svc, OCI_HTYPE_SVCCTX));
        h.Svc = nullptr;
        // The error handle goes with the environment.
        h.Err = nullptr;
        if (h.Env != nullptr) Check(f.OCIHandleFree(h.Env, OCI_HTYPE_ENV));
        h.Env = nullptr;
    }
}

void TIOra8Database::DoCommit() {
    Check(Oci8().OCITransCommit(SvcHandle(), ErrHandle(), OCI_DEFAULT));
}

void TIOra8Database::DoRollback() {
    Check(Oci8().OCITransRollback(SvcHandle(), ErrHandle(), OCI_DEFAULT));
}

void TIOra8Database::SetHandle(void* handle) {
    if (handle == nullptr) return;
    if (!holdsLoad_) {
        LoadOciLibrary(false);
        holdsLoad_ = true;
    }
    const auto* given = static_cast<const TOra8HandleRec*>(handle);
    handle_ = std::make_unique<TOra8HandleRec>();
    handle_->Env = given->Env;
    handle_->Err = given->Err;
    handle_->Svc = given->Svc;
    handle_->Srv = given->Srv;
    handle_->Session = given->Session;
}

TISqlCommandPtr TIOra8Database::CreateSqlCommand(rtl::Component* ownerDataSet) {
    return MakeSqlCommand<TIOra8Command>(this, ownerDataSet);
}

int32_t TIOra8Database::GetClientVersion() {
    return OciClientVersion();
}

void TIOra8Database::QueryColumnValues(const std::string& sql, rtl::StringList& values) {
    OraQueryColumnValues(*this, sql, values);
}

int32_t TIOra8Database::GetServerVersion() {
    return OraServerVersion(*this);
}

std::string TIOra8Database::GetVersionString() {
    return OraVersionString(*this);
}

TISqlCommandPtr TIOra8Database::GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) {
    return OraSchemaCommand(*this, kind, objectName);
}

bool TIOra8Database::TestConnected() {
    OraExecute(*this, "select 0 from DUAL");
    return true;
}

void TIOra8Database::SetTransIsolation(TSDTransIsolation value) {
    OraExecute(*this, OraIsolationStatement(value));
}
