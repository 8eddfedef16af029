// database/facade/ukwQuery.h: TkwQuery, the launcher's one query object.
//
// The facade carries the SQL text, parameters, navigation, field access, filter and dataset
// events of a query and forwards them to one inner query of the kind its database facade
// (TkwDatabase, ukwDatabase.h) uses: a TkwBDEQuery for atBDE (it has fetched all its rows when
// Open returns) or a TkwSDQuery for atSQLD (it caches blobs and never asks for a live result).
// The SQL text, Filter and Filtered live in the inner query, so a new inner query starts
// without them; UpdateMode, CacheBlobs and the events live in the facade and are copied into
// every inner query by ApplySettings, which also closes it.
//
// Without an inner query of its access type (its database went, or AccessTypeDB was written
// directly to a kind never built) the forwarding operations answer: RecordCount -1, IsEmpty
// true, Eof false, and nullptr for FieldByName, ParamByName and SQL.
//
// The launcher's use: create; SetDatabase with a connected facade; fill SQL; set parameters
// by name; Open; read rows (First, Eof, Next, FieldByName, or FetchAll and RecordCount);
// Close; free the query (before or after the database: a facade that goes first detaches it).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "database/facade/ukwDatabase.h"
#include "rtl/DataSet.h"
#include "rtl/DbParams.h"
#include "rtl/NotifyStringList.h"

class TkwBDEQuery;
class TkwSDQuery;
class TSDQuery;

class TkwQuery : public rtl::Component {
public:
    using TDataSetNotifyEvent = rtl::TDataSet::TDataSetNotifyEvent;
    using TDataSetErrorEvent = rtl::TDataSet::TDataSetErrorEvent;
    using TFilterRecordEvent = rtl::TDataSet::TFilterRecordEvent;

    // Starts with an inner TkwBDEQuery (the access type is atBDE until a database is attached).
    explicit TkwQuery(rtl::Component* owner = nullptr);
    ~TkwQuery() override;

    // Read and written as a plain field: writing it only switches which inner query the
    // operations use; the next application of the settings builds a missing one.
    TAccessTypeDB AccessTypeDB = atBDE;
    bool IsUnidirectional = true;  // stored only

    bool Active() const { return active_; }
    void SetActive(bool value);
    TkwDatabase* Database() const { return database_; }
    // Unregisters from the old database, registers with the new one, takes its access type and
    // applies the settings; the same database does nothing; nullptr detaches.
    void SetDatabase(TkwDatabase* database);
    // Called by the database facade when its access type changes: both inner queries go, and
    // one of the new kind is built by re-attaching.
    void RebindDatabase(TkwDatabase* database);
    rtl::TUpdateMode UpdateMode() const { return updateMode_; }
    void SetUpdateMode(rtl::TUpdateMode value);
    bool CacheBlobs() const { return cacheBlobs_; }
    void SetCacheBlobs(bool value);

    // The inner query's SQL lines, filled in place (nullptr without an inner query).
    rtl::NotifyStringList* SQL() const;
    void SetSQL(const rtl::StringList& lines);
    std::string Filter() const;
    void SetFilter(const std::string& text);
    bool Filtered() const;
    void SetFiltered(bool value);

    void Open();
    void Close();
    void First();
    void Next();
    bool Eof() const;
    bool IsEmpty() const;
    int RecordCount() const;
    // A missing field raises the inner query's error ("%s: Campo '%s' não encontrado").
    rtl::TField* FieldByName(std::string_view name) const;
    // A missing parameter raises the inner query's error.
    rtl::Param* ParamByName(std::string_view name) const;
    void FetchAll();

    // The inner query the operations use now (nullptr when it does not exist).
    TSDQuery* InnerQuery() const;
    TkwBDEQuery* BDEQuery() const { return bdeQuery_.get(); }
    TkwSDQuery* SDQuery() const { return sdQuery_.get(); }

    const TFilterRecordEvent& OnFilterRecord() const { return onFilterRecord_; }
    virtual void SetOnFilterRecord(TFilterRecordEvent handler);

    TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert, BeforeEdit,
        AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete, AfterDelete, BeforeRefresh,
        AfterRefresh, BeforeScroll, AfterScroll, OnNewRecord, OnCalcFields;
    TDataSetErrorEvent OnEditError, OnPostError, OnDeleteError;

    // Builds the inner query of the current access type when missing, closes it and copies
    // the settings into it.
    void ApplySettings();

private:
    friend class TkwDatabase;
    // The attached database is going: the inner query of the current access type goes and
    // the database is forgotten.
    void DatabaseRemoved(TkwDatabase* database);
    void CopyEvents(TSDQuery& query) const;

    bool active_ = false;
    rtl::TUpdateMode updateMode_ = rtl::upWhereAll;
    TkwDatabase* database_ = nullptr;
    bool cacheBlobs_ = false;
    TFilterRecordEvent onFilterRecord_;
    std::unique_ptr<TkwBDEQuery> bdeQuery_;
    std::unique_ptr<TkwSDQuery> sdQuery_;
};
