// database/engine/SDEngineQuery.h: the SQL query TSDQuery and its master link (part of unit SDEngine).
//
// A TSDQuery runs one SQL text: it keeps the text and its parameters (one per ":name" marker,
// rebuilt when the text changes, values of surviving names kept), executes the statement
// directly on its driver command when it opens or when it runs without a result set, takes
// unbound parameters from the current record of a master data set, and, opened live
// (RequestLive True, CachedUpdates False), writes every posted or deleted record back to the one
// table of its SELECT.
//
// Example: a detail query "select * from items where order_id = :ORDER_ID" with DataSource on
// the orders query reopens whenever the orders query moves to a record with another ORDER_ID.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "database/engine/SDEngineDataSet.h"
#include "rtl/DataLink.h"
#include "rtl/DbParams.h"
#include "rtl/NotifyStringList.h"

class TSDQuery;

// Follows the master data source of a detail query.
class TSDQueryDataLink : public rtl::TDetailDataLink {
public:
    explicit TSDQueryDataLink(TSDQuery& query) : query_(query) {}
    rtl::TDataSet* GetDetailDataSet() override;

protected:
    void ActiveChanged() override;
    void RecordChanged(rtl::TField* field) override;
    void CheckBrowseMode() override;

private:
    TSDQuery& query_;
};

class TSDQuery : public TSDDataSet {
public:
    explicit TSDQuery(rtl::Component* owner = nullptr);
    ~TSDQuery() override;

    // The statement text, filled in place; every change closes the query, releases its statement
    // and (with ParamCheck) rebuilds Params.
    rtl::NotifyStringList& SQL() { return sql_; }
    // Replaces the lines when the text differs.
    virtual void SetSQL(const rtl::StringList& lines);
    const std::string& SQLText() const { return sqlText_; }
    rtl::Params& Params() { return params_; }
    rtl::Param& ParamByName(std::string_view name) { return params_.ParamByName(name); }
    bool ParamCheck = true;

    rtl::TDataSource* DataSource() const { return dataLink_.DataSource(); }
    // "Ligações de dados circulares não são permitidas" for a source that leads back here.
    void SetDataSource(rtl::TDataSource* source);
    rtl::TDataSource* GetDataSource() const override { return DataSource(); }
    bool RequestLive() const { return requestLive_; }
    void SetRequestLive(bool value);
    void SetUniDirectional(bool value) override;
    void SetUpdateMode(rtl::TUpdateMode value) override;

    // Runs the text without a result set.
    void ExecuteStatement();
    // Rows affected by the last ExecuteStatement (-1 when unknown or after an open).
    int32_t GetRowsAffected() const { return rowsAffected_; }
    // The query must be closed; the command lets go of the statement.
    void ReleaseStatement();
    // Takes a command that already holds a statement (a catalog query).
    void AttachCommand(TISqlCommandPtr command);
    bool Prepared() const { return prepared_; }
    bool IsPreparedQuery() const override { return prepared_; }
    const std::string& LiveTable() const { return liveTable_; }
    const rtl::StringList& IndexFields() const { return indexFields_; }
    bool GetIsIndexField(const rtl::TField& field) const override;
    // The master fields named by parameters, and the query's fields of those names.
    void GetDetailLinkFields(std::vector<rtl::TField*>& masterFields,
                             std::vector<rtl::TField*>& detailFields);
    void LoadFromDataSet(rtl::TDataSet& source) override;
    void RefreshRecord() override;

    // Provider support.
    rtl::Params& PSGetParams() { return params_; }
    void PSSetParams(const rtl::Params& params);
    std::string PSGetTableName() const;
    void PSExecute() { ExecuteStatement(); }
    void PSSetCommandText(const std::string& text);

protected:
    friend class TSDQueryDataLink;

    void ISqlCmdCreate() override;
    void PrepareCursor() override;
    void ExecuteCursor() override;
    bool SetDBFlag(int flag, bool on) override;
    void DisconnectCommand() override;
    std::string SelectSQL() const override { return sqlText_; }
    void ReexecuteCursor(bool hasHandle) override;
    void DoBeforeOpen() override;
    bool GetCanModify() override;
    void InternalOpen() override;
    void InternalPost() override;
    void InternalDelete() override;

private:
    void SQLChanged();
    void SetStatementReady(bool ready, bool execDirect);
    void SetParamsFromMaster();
    void ReadIndexFields();
    void MasterChanged();
    void DefaultParamsToInput();
    bool Live() const { return requestLive_ && !CachedUpdates(); }

    rtl::NotifyStringList sql_;
    std::string sqlText_;
    rtl::Params params_;
    TSDQueryDataLink dataLink_;
    bool requestLive_ = false;
    bool prepared_ = false;
    bool needsExecute_ = true;
    int32_t rowsAffected_ = -1;
    std::string liveTable_;
    rtl::StringList indexFields_;
};

// The driver's catalog query of that kind for the object, opened, or nullptr when the driver has
// none (the database is opened first). The query carries the database's names.
std::unique_ptr<TSDQuery> OpenSchemaQuery(TSDDatabase& database, TSDSchemaType kind,
                                          const std::string& objectName);
