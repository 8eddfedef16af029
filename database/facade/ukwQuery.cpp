// database/facade/ukwQuery.cpp: the launcher's query facade forwarding to its inner query.
#include "database/facade/ukwQuery.h"

#include "database/facade/ukwBDEDatabase.h"
#include "database/facade/ukwBDEQuery.h"
#include "database/facade/ukwSDDatabase.h"
#include "database/facade/ukwSDQuery.h"

TkwQuery::TkwQuery(rtl::Component* owner) : rtl::Component(owner) {
    bdeQuery_ = std::make_unique<TkwBDEQuery>(this);
}

TkwQuery::~TkwQuery() {
    MarkDestroying();
    if (database_ != nullptr) database_->UnregisterQuery(this);
    // The inner query of the current kind first, then any other.
    if (AccessTypeDB == atBDE)
        bdeQuery_.reset();
    else
        sdQuery_.reset();
    bdeQuery_.reset();
    sdQuery_.reset();
}

TSDQuery* TkwQuery::InnerQuery() const {
    return AccessTypeDB == atBDE ? static_cast<TSDQuery*>(bdeQuery_.get())
                                 : static_cast<TSDQuery*>(sdQuery_.get());
}

// ---- Database --------------------------------------------------------------------------------

void TkwQuery::SetDatabase(TkwDatabase* database) {
    if (database == database_) return;
    if (database_ != nullptr) database_->UnregisterQuery(this);
    database_ = database;
    if (database_ != nullptr) {
        database_->RegisterQuery(this);
        AccessTypeDB = database_->AccessTypeDB();
    }
    ApplySettings();
}

void TkwQuery::RebindDatabase(TkwDatabase* database) {
    SetActive(false);
    bdeQuery_.reset();
    sdQuery_.reset();
    // Forgotten without unregistering: the caller walks its list of registered queries.
    database_ = nullptr;
    SetDatabase(database);
}

void TkwQuery::DatabaseRemoved(TkwDatabase* database) {
    if (database != database_) return;
    if (AccessTypeDB == atBDE)
        bdeQuery_.reset();
    else
        sdQuery_.reset();
    database_ = nullptr;
    active_ = false;
}

// ---- Settings --------------------------------------------------------------------------------

void TkwQuery::SetActive(bool value) {
    if (value == active_) return;
    active_ = value;
    ApplySettings();
}

void TkwQuery::SetUpdateMode(rtl::TUpdateMode value) {
    if (value == updateMode_) return;
    updateMode_ = value;
    ApplySettings();
}

void TkwQuery::SetCacheBlobs(bool value) {
    if (value == cacheBlobs_) return;
    cacheBlobs_ = value;
    ApplySettings();
}

void TkwQuery::SetOnFilterRecord(TFilterRecordEvent handler) {
    onFilterRecord_ = std::move(handler);
    if (TSDQuery* q = InnerQuery()) q->SetOnFilterRecord(onFilterRecord_);
}

void TkwQuery::CopyEvents(TSDQuery& q) const {
    q.BeforeOpen = BeforeOpen;
    q.AfterOpen = AfterOpen;
    q.BeforeClose = BeforeClose;
    q.AfterClose = AfterClose;
    q.BeforeInsert = BeforeInsert;
    q.AfterInsert = AfterInsert;
    q.BeforeEdit = BeforeEdit;
    q.AfterEdit = AfterEdit;
    q.BeforePost = BeforePost;
    q.AfterPost = AfterPost;
    q.BeforeCancel = BeforeCancel;
    q.AfterCancel = AfterCancel;
    q.BeforeDelete = BeforeDelete;
    q.AfterDelete = AfterDelete;
    q.BeforeRefresh = BeforeRefresh;
    q.AfterRefresh = AfterRefresh;
    q.BeforeScroll = BeforeScroll;
    q.AfterScroll = AfterScroll;
    q.OnNewRecord = OnNewRecord;
    q.OnCalcFields = OnCalcFields;
    q.OnEditError = OnEditError;
    q.OnPostError = OnPostError;
    q.OnDeleteError = OnDeleteError;
}

void TkwQuery::ApplySettings() {
    TSDQuery* q = nullptr;
    TSDDatabase* inner = nullptr;
    if (AccessTypeDB == atBDE) {
        if (!bdeQuery_) bdeQuery_ = std::make_unique<TkwBDEQuery>(this);
        q = bdeQuery_.get();
        if (database_ != nullptr) inner = database_->GetBDEDatabase();
    } else {
        if (!sdQuery_) sdQuery_ = std::make_unique<TkwSDQuery>(this);
        q = sdQuery_.get();
        if (database_ != nullptr) inner = database_->GetSDDatabase();
    }
    q->Close();
    active_ = false;
    if (inner != nullptr) {
        q->SetDatabaseName(inner->DatabaseName());
        q->SetSessionName(inner->GetSessionName());
    }
    q->SetUpdateMode(updateMode_);
    if (AccessTypeDB == atBDE) {
        q->CacheBlobs = cacheBlobs_;
    } else {
        // The library's path always caches blobs and reads a result that is not live, whatever
        // the facade asks.
        q->CacheBlobs = true;
        q->SetRequestLive(false);
    }
    CopyEvents(*q);
    q->SetOnFilterRecord(onFilterRecord_);
}

// ---- Forwarding ------------------------------------------------------------------------------

rtl::NotifyStringList* TkwQuery::SQL() const {
    TSDQuery* q = InnerQuery();
    return q != nullptr ? &q->SQL() : nullptr;
}

void TkwQuery::SetSQL(const rtl::StringList& lines) {
    if (TSDQuery* q = InnerQuery()) q->SetSQL(lines);
}

std::string TkwQuery::Filter() const {
    TSDQuery* q = InnerQuery();
    return q != nullptr ? q->Filter() : std::string();
}

void TkwQuery::SetFilter(const std::string& text) {
    if (TSDQuery* q = InnerQuery()) q->SetFilter(text);
}

bool TkwQuery::Filtered() const {
    TSDQuery* q = InnerQuery();
    return q != nullptr && q->Filtered();
}

void TkwQuery::SetFiltered(bool value) {
    if (TSDQuery* q = InnerQuery()) q->SetFiltered(value);
}

void TkwQuery::Open() {
    TSDQuery* q = InnerQuery();
    if (q == nullptr) return;
    q->Open();
    active_ = q->Active();
}

void TkwQuery::Close() {
    TSDQuery* q = InnerQuery();
    if (q == nullptr) return;
    q->Close();
    active_ = q->Active();
}

void TkwQuery::First() {
    if (TSDQuery* q = InnerQuery()) q->First();
}

void TkwQuery::Next() {
    if (TSDQuery* q = InnerQuery()) q->Next();
}

bool TkwQuery::Eof() const {
    TSDQuery* q = InnerQuery();
    return q != nullptr && q->Eof();
}

bool TkwQuery::IsEmpty() const {
    TSDQuery* q = InnerQuery();
    return q == nullptr || q->IsEmpty();
}

int TkwQuery::RecordCount() const {
    TSDQuery* q = InnerQuery();
    return q != nullptr ? q->RecordCount() : -1;
}

rtl::TField* TkwQuery::FieldByName(std::string_view name) const {
    TSDQuery* q = InnerQuery();
    return q != nullptr ? &q->FieldByName(name) : nullptr;
}

rtl::Param* TkwQuery::ParamByName(std::string_view name) const {
    TSDQuery* q = InnerQuery();
    return q != nullptr ? &q->ParamByName(name) : nullptr;
}

void TkwQuery::FetchAll() {
    if (TSDQuery* q = InnerQuery()) q->FetchAll();
}
