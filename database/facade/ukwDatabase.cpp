// database/facade/ukwDatabase.cpp: the launcher's connection facade over its two paths.
#include "database/facade/ukwDatabase.h"

#include <algorithm>
#include <filesystem>

#include "database/engine/SDEngine.h"
#include "database/facade/ukwBDEDatabase.h"
#include "database/facade/ukwQuery.h"
#include "database/facade/ukwSDDatabase.h"
#include "database/odbc/SDOdbcApi.h"
#include "platform/Process.h"
#include "rtl/Text.h"

namespace {

TSDServerType TipoServidor(TkwTipoBanco tipo) {
    switch (tipo) {
        case tbOracle:
            return stOracle;
        case tbDB2:
            return stDB2;
        default:
            return stODBC;
    }
}

TSDTransIsolation Isolamento(TTransactionType tipo) {
    switch (tipo) {
        case ttDirtyRead:
            return tiDirtyRead;
        case ttRepeatableRead:
            return tiRepeatableRead;
        default:
            return tiReadCommitted;
    }
}

// The running program's file name without its folder.
std::string NomeDoPrograma() {
    return std::filesystem::path(plat::CurrentExecutablePath()).filename().string();
}

}  // namespace

TkwDatabase::TkwDatabase(rtl::Component* owner) : rtl::Component(owner) {
    CreateBDEObjects();
}

TkwDatabase::~TkwDatabase() {
    MarkDestroying();
    // A query still attached would point at a freed facade and a freed inner database: each
    // lets go of both now (it can still be freed, or attached elsewhere, afterwards).
    const std::vector<TkwQuery*> queries = queries_;
    for (TkwQuery* q : queries)
        q->DatabaseRemoved(this);
    queries_.clear();
    FreeSDObjects();
    FreeBDEObjects();
}

// ---- Properties ------------------------------------------------------------------------------

void TkwDatabase::SetAccessTypeDB(TAccessTypeDB value) {
    accessTypeDB_ = value;
    ApplySettings();
    const int n = int(queries_.size());
    for (int i = 0; i < n && i < int(queries_.size()); ++i)
        queries_[size_t(i)]->RebindDatabase(this);
}

void TkwDatabase::SetAliasName(const std::string& value) {
    Change(aliasName_, value);
}

void TkwDatabase::SetDatabaseName(const std::string& value) {
    Change(databaseName_, value);
}

void TkwDatabase::SetConnectionUser(const std::string& value) {
    Change(connectionUser_, value);
}

void TkwDatabase::SetConnectionPassword(const std::string& value) {
    Change(connectionPassword_, value);
}

void TkwDatabase::SetLoginPrompt(bool value) {
    Change(loginPrompt_, value);
}

void TkwDatabase::SetTransactionType(TTransactionType value) {
    Change(transactionType_, value);
}

void TkwDatabase::SetTipoBanco(TkwTipoBanco value) {
    Change(tipoBanco_, value);
}

void TkwDatabase::SetHandleShared(bool value) {
    Change(handleShared_, value);
}

void TkwDatabase::SetUsesDefaultSession(bool value) {
    Change(usesDefaultSession_, value);
}

void TkwDatabase::SetBlobSize(int32_t value) {
    Change(blobSize_, value);
}

void TkwDatabase::SetkwServer(const std::string& value) {
    Change(kwServer_, value);
}

void TkwDatabase::SetParams(const rtl::StringList& params) {
    TSDDatabase* inner = accessTypeDB_ == atBDE ? static_cast<TSDDatabase*>(bdeDatabase_.get())
                                                : static_cast<TSDDatabase*>(sdDatabase_.get());
    if (inner != nullptr) inner->Params().AddStrings(params);
}

void TkwDatabase::SetConnected(bool value) {
    if (value == connected_) return;
    connected_ = value;
    if (connectionUser_.empty()) connectionUser_ = params_.Values("user name");
    if (connectionPassword_.empty()) connectionPassword_ = params_.Values("password");
    ApplySettings();
}

TSDSession* TkwDatabase::GetSession() const {
    return accessTypeDB_ == atBDE ? bdeSession_.get() : sdSession_.get();
}

// ---- Queries ---------------------------------------------------------------------------------

void TkwDatabase::RegisterQuery(TkwQuery* query) {
    if (query == nullptr) return;
    if (std::find(queries_.begin(), queries_.end(), query) == queries_.end()) queries_.push_back(query);
}

void TkwDatabase::UnregisterQuery(TkwQuery* query) {
    queries_.erase(std::remove(queries_.begin(), queries_.end(), query), queries_.end());
}

// ---- Applying the settings -------------------------------------------------------------------

void TkwDatabase::ApplySettings() {
    if (accessTypeDB_ == atBDE)
        ApplyBDESettings();
    else
        ApplySDSettings();
}

void TkwDatabase::SetLogin(TSDDatabase& db) {
    db.Params().Clear();
    // An empty value leaves its line out, as the engine's name=value lists do.
    db.Params().SetValue("USER NAME", connectionUser_);
    db.Params().SetValue("PASSWORD", connectionPassword_);
}

void TkwDatabase::ApplyBDESettings() {
    if (!bdeDatabase_ || !bdeSession_) CreateBDEObjects();
    TkwBDEDatabase& db = *bdeDatabase_;
    db.Close();
    bdeSession_->SetActive(false);

    db.SetAliasName(aliasName_);
    db.SetDatabaseName(databaseName_);
    db.SetLoginPrompt(loginPrompt_);
    db.SetHandleShared(handleShared_);
    SetLogin(db);
    if (blobSize_ > 0) db.Params().SetValue("BLOB SIZE", rtl::IntToStr(blobSize_));
    if (usesDefaultSession_) db.SetSessionName(::Session().SessionName());

    db.SetConnected(connected_);
    db.SetTransIsolation(Isolamento(transactionType_));
    bdeSession_->SetActive(connected_);
}

void TkwDatabase::ApplySDSettings() {
    if (!sdDatabase_ || !sdSession_) CreateSDObjects();
    TkwSDDatabase& db = *sdDatabase_;
    db.Close();
    sdSession_->SetActive(false);

    db.SetServerType(TipoServidor(tipoBanco_));
    const std::string usuario = params_.Values("USER NAME");
    if (!usuario.empty()) connectionUser_ = usuario;
    const std::string senha = params_.Values("PASSWORD");
    if (!senha.empty()) connectionPassword_ = senha;

    // A SQL Server reached through a named data source gets the log-in and the program's name
    // in the connection text itself. The values are written as attribute values, so a ";" in
    // a user name or password cannot end its attribute and add another.
    if (db.ServerType() == stODBC && !aliasName_.empty() && !kwServer_.empty())
        db.SetRemoteDatabase("DSN=" + OdbcAttributeValue(aliasName_) +
                             ";UID=" + OdbcAttributeValue(connectionUser_) +
                             ";PWD=" + OdbcAttributeValue(connectionPassword_) +
                             ";APP=" + OdbcAttributeValue(NomeDoPrograma()));
    else
        db.SetRemoteDatabase(aliasName_);
    db.SetDatabaseName(databaseName_);
    db.SetLoginPrompt(loginPrompt_);
    SetLogin(db);
    if (usesDefaultSession_) db.SetSessionName(::Session().SessionName());

    db.SetTransIsolation(Isolamento(transactionType_));
    db.SetConnected(connected_);
    sdSession_->SetActive(connected_);
}

// ---- The inner objects -----------------------------------------------------------------------

void TkwDatabase::FreeBDEObjects() {
    if (bdeDatabase_) {
        try {
            bdeDatabase_->Close();
        } catch (const std::exception&) {
            // The objects go either way; a failure to close is the driver's to forget.
        }
    }
    bdeDatabase_.reset();
    bdeSession_.reset();
}

void TkwDatabase::FreeSDObjects() {
    if (sdDatabase_) {
        try {
            sdDatabase_->Close();
        } catch (const std::exception&) {
            // As above.
        }
    }
    sdDatabase_.reset();
    sdSession_.reset();
}

void TkwDatabase::CreateBDEObjects() {
    FreeSDObjects();
    FreeBDEObjects();
    bdeDatabase_ = std::make_unique<TkwBDEDatabase>(this);
    bdeDatabase_->SetKeepConnection(true);
    bdeDatabase_->SetHandleShared(true);
    bdeSession_ = std::make_unique<TSDSession>(this);
    bdeSession_->SetAutoSessionName(true);
    bdeSession_->SetKeepConnections(true);
    bdeSession_->SetSQLHourGlass(true);
    bdeDatabase_->SetSessionName(bdeSession_->SessionName());
}

void TkwDatabase::CreateSDObjects() {
    FreeBDEObjects();
    FreeSDObjects();
    sdDatabase_ = std::make_unique<TkwSDDatabase>(this);
    sdDatabase_->SetKeepConnection(true);
    sdSession_ = std::make_unique<TSDSession>(this);
    sdSession_->SetAutoSessionName(true);
    sdSession_->SetKeepConnections(true);
    sdSession_->SetSQLHourGlass(true);
    sdDatabase_->SetSessionName(sdSession_->SessionName());
}
