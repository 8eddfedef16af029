// database/engine/SDEngineQuery.cpp: TSDQuery: SQL text and parameters, the statement's state, opening
// and live checks, executing without result set, master-detail, provider support; the catalog
// query of a database.
#include "database/engine/SDEngineQuery.h"

#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDCommonUpdateSql.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

// ---------------------------------------------------------------------------------------------
// Master link

rtl::TDataSet* TSDQueryDataLink::GetDetailDataSet() {
    return &query_;
}

void TSDQueryDataLink::ActiveChanged() {
    if (query_.Active()) query_.MasterChanged();
}

void TSDQueryDataLink::RecordChanged(rtl::TField* field) {
    if (field == nullptr && query_.Active()) query_.MasterChanged();
}

void TSDQueryDataLink::CheckBrowseMode() {
    if (query_.Active()) query_.CheckBrowseMode();
}

// ---------------------------------------------------------------------------------------------
// Creation, text and parameters

TSDQuery::TSDQuery(rtl::Component* owner) : TSDDataSet(owner), dataLink_(*this) {
    sql_.OnChange = [this] { SQLChanged(); };
}

TSDQuery::~TSDQuery() {
    MarkDestroying();
    sql_.OnChange = nullptr;
    dataLink_.SetDataSource(nullptr);
    closing_ = true;
    try {
        CloseQuietly();
    } catch (const std::exception&) {
        // Nothing can be reported from a destructor; the base releases what is left.
    }
    prepared_ = false;
}

void TSDQuery::SetSQL(const rtl::StringList& lines) {
    if (lines.Text() == sql_.Text()) return;
    DisconnectCommand();
    sql_.BeginUpdate();
    sql_.Assign(lines);
    sql_.EndUpdate();
}

void TSDQuery::SQLChanged() {
    sqlText_ = sql_.Text();
    if (IsLoading()) return;
    Close();
    SetStatementReady(false, false);
    SetDBFlag(dsfPrepared, false);
    indexFields_.Clear();
    if (ParamCheck || IsDesigning()) {
        rtl::Params fresh;
        CreateParamsFromSql(&fresh, sqlText_);
        // Parameters that keep their names keep their values.
        for (int i = 0; i < fresh.Count(); ++i) {
            if (const rtl::Param* old = params_.FindParam(fresh[i].Name())) {
                rtl::Param& p = fresh[i];
                p.SetDataType(old->DataType());
                if (old->ParamType() != ptUnknown) p.SetParamType(old->ParamType());
                if (!old->Value().IsEmpty()) p.SetValue(old->Value());
                p.SetBound(old->Bound());
            }
        }
        params_ = fresh;
    }
    DataEvent(rtl::dePropertyChange, 0);
}

void TSDQuery::DefaultParamsToInput() {
    for (int i = 0; i < params_.Count(); ++i)
        if (params_[i].ParamType() == ptUnknown) params_[i].SetParamType(ptInput);
}

void TSDQuery::SetRequestLive(bool value) {
    CheckInactive();
    requestLive_ = value;
}

void TSDQuery::SetUniDirectional(bool value) {
    CheckInactive();
    TSDDataSet::SetUniDirectional(value);
}

void TSDQuery::SetUpdateMode(rtl::TUpdateMode value) {
    CheckInactive();
    TSDDataSet::SetUpdateMode(value);
}

// ---------------------------------------------------------------------------------------------
// The statement

void TSDQuery::ISqlCmdCreate() {
    TSDDataSet::ISqlCmdCreate();
    command_->CommandType = 0;
    command_->SetParams(&params_);
    command_->FetchAllProc = [this](bool value) {
        if (value && Active()) FetchAll();
    };
}

void TSDQuery::SetStatementReady(bool ready, bool execDirect) {
    if (prepared_ == ready && (!prepared_ || (command_ && command_->IsPrepared()))) return;
    if (ready) {
        rowsAffected_ = -1;
        if (!command_) ISqlCmdCreate();
        command_->LongDataSize = LongColumnSize;
        if (rtl::Trim(sqlText_).size() < 2) rtl::DatabaseError(SNoSqlStatement);
        if (execDirect) {
            const CommandCall call(*this);
            command_->ExecDirect(sqlText_);
        }
        prepared_ = true;
    } else {
        if (command_) command_->ClearPreparedText();
        prepared_ = false;
    }
}

void TSDQuery::ReleaseStatement() {
    if (Active()) Error("Não é possível realizar esta operação em um arquivo aberto");
    SetStatementReady(false, false);
    SetDBFlag(dsfPrepared, false);
}

void TSDQuery::AttachCommand(TISqlCommandPtr command) {
    Close();
    command_.reset();
    command_ = std::move(command);
    if (!command_) return;
    command_->LongDataSize = LongColumnSize;
    command_->FetchAllProc = [this](bool value) {
        if (value && Active()) FetchAll();
    };
    // The text is the command's; the change handling would release the command just taken.
    auto handler = std::move(sql_.OnChange);
    sql_.OnChange = nullptr;
    sql_.SetText(command_->CommandText);
    sql_.OnChange = std::move(handler);
    sqlText_ = sql_.Text();
    prepared_ = command_->IsPrepared();
}

bool TSDQuery::SetDBFlag(int flag, bool on) {
    // Clearing the last flag lets go of the statement first.
    if (!on && HasDBFlag(flag)) {
        bool others = false;
        for (int f = 0; f < 32; ++f)
            if (f != flag && HasDBFlag(f)) others = true;
        if (!others) SetStatementReady(false, false);
    }
    return TSDDataSet::SetDBFlag(flag, on);
}

void TSDQuery::DisconnectCommand() {
    Close();
    SetStatementReady(false, false);
    DropCommand();
}

// ---------------------------------------------------------------------------------------------
// Opening

void TSDQuery::DoBeforeOpen() {
    DefaultParamsToInput();
    TSDDataSet::DoBeforeOpen();
}

void TSDQuery::PrepareCursor() {
    if (prepared_ && command_ && command_->IsPrepared()) return;  // an attached catalog command
    const bool live = requestLive_ && IsSelectStatement(sqlText_);
    const bool generated = live && UpdateObject() == nullptr;
    try {
        if (generated) {
            const bool strict = DatabaseParam("STRICT LIVE QUERY") != SFalseString;
            liveTable_ = GetTableNameFromSelect(sqlText_, !strict);
            if (liveTable_.empty()) rtl::DatabaseError(STableIsReadOnly);
            if (UpdateMode() != rtl::upWhereAll && indexFields_.Count() == 0) ReadIndexFields();
        }
        if (DataSource() != nullptr) SetParamsFromMaster();
        SetStatementReady(true, true);
        if (generated) {
            if (UpdateMode() != rtl::upWhereAll && indexFields_.Count() == 0)
                rtl::DatabaseError(STableIsReadOnly);
            if (command_->FieldDescs->Count() == 0) command_->InitFieldDescs();
            // A key the server fills is left to it by the inserts the query generates.
            command_->ReadAutoIncrementColumns();
            const TSDServerType server = command_->GetSqlDatabase().GetServerType();
            bool updatable = true;
            if (UpdateMode() == rtl::upWhereAll) {
                updatable = false;
                for (int i = 0; i < command_->FieldDescs->Count(); ++i)
                    if (!IsBlobFieldType(server, command_->FieldDescs->GetFieldDesc(i).FieldType))
                        updatable = true;
            } else {
                rtl::StringList names;
                for (int i = 0; i < command_->FieldDescs->Count(); ++i)
                    names.Add(command_->FieldDescs->GetFieldDesc(i).FieldName);
                rtl::StringList origins;
                rtl::StringList tables;
                if (names.Count() > 0) AnalyseSelectText(sqlText_, names, origins, tables);
                rtl::StringList items;
                for (int i = 0; i < origins.Count(); ++i)
                    items.Add(rtl::UpperCase(ExtractBareName(origins.ValueFromIndex(i))));
                for (int i = 0; i < indexFields_.Count() && updatable; ++i)
                    if (items.IndexOf(rtl::UpperCase(indexFields_[i])) < 0) updatable = false;
            }
            if (!updatable) {
                command_.reset();
                rtl::DatabaseError(STableIsReadOnly);
            }
        }
    } catch (...) {
        prepared_ = false;
        throw;
    }
}

void TSDQuery::InternalOpen() {
    rowsAffected_ = -1;
    if (DataSource() != nullptr) SetParamsFromMaster();
    // The statement already ran in PrepareCursor (or the command came with its rows).
    needsExecute_ = false;
    try {
        TSDDataSet::InternalOpen();
    } catch (...) {
        needsExecute_ = true;
        throw;
    }
    needsExecute_ = true;
}

void TSDQuery::ExecuteCursor() {
    if (!needsExecute_) return;
    if (!command_) ISqlCmdCreate();
    const CommandCall call(*this);
    command_->LongDataSize = LongColumnSize;
    command_->ExecDirect(sqlText_);
}

void TSDQuery::ReexecuteCursor(bool) {
    needsExecute_ = true;
    ExecuteCursor();
}

void TSDQuery::ExecuteStatement() {
    rowsAffected_ = -1;
    CheckInactive();
    BeginSqlWaitCursor();
    try {
        SetDBFlag(dsfExecuting, true);
        try {
            if (DataSource() != nullptr) SetParamsFromMaster();
            SetStatementReady(true, false);
            DefaultParamsToInput();
            needsExecute_ = true;
            ExecuteCursor();
            rowsAffected_ = command_->GetRowsAffected();
        } catch (...) {
            try {
                SetDBFlag(dsfExecuting, false);
            } catch (const std::exception&) {
                // The execution's failure is the one to report.
            }
            throw;
        }
        SetDBFlag(dsfExecuting, false);
    } catch (...) {
        EndSqlWaitCursor();
        throw;
    }
    EndSqlWaitCursor();
}

void TSDQuery::ReadIndexFields() {
    SetDBFlag(dsfIndexInfo, true);
    try {
        std::unique_ptr<TSDQuery> schema = OpenSchemaQuery(*Database(), stIndexes, liveTable_);
        if (schema) {
            std::string chosen;
            for (; !schema->Eof(); schema->Next()) {
                const std::string index = rtl::TrimRight(schema->FieldByName("INDEX_NAME").AsString());
                if (!chosen.empty() && index != chosen) continue;
                if (schema->FieldByName("INDEX_TYPE").AsInteger() & 2) {
                    indexFields_.Add(rtl::TrimRight(schema->FieldByName("COLUMN_NAME").AsString()));
                    chosen = index;
                }
            }
        }
    } catch (...) {
        SetDBFlag(dsfIndexInfo, false);
        throw;
    }
    SetDBFlag(dsfIndexInfo, false);
}

bool TSDQuery::GetIsIndexField(const rtl::TField& field) const {
    return Live() && indexFields_.IndexOf(field.FieldName()) >= 0;
}

// ---------------------------------------------------------------------------------------------
// Master-detail

void TSDQuery::SetDataSource(rtl::TDataSource* source) {
    if (source != nullptr && IsLinkedTo(source)) Error("Ligações de dados circulares não são permitidas");
    dataLink_.SetDataSource(source);
}

void TSDQuery::SetParamsFromMaster() {
    rtl::TDataSet* master = dataLink_.DataSet();
    if (master == nullptr) return;
    for (int i = 0; i < params_.Count(); ++i) {
        rtl::Param& p = params_[i];
        if (p.Bound()) continue;
        const rtl::TField& f = master->FieldByName(p.Name());
        p.SetDataType(f.DataType() == ftAutoInc ? ftInteger : f.DataType());
        if (p.ParamType() == ptUnknown) p.SetParamType(ptInput);
        const rtl::Variant value = f.Value();
        if (value.IsNull())
            p.Clear();
        else
            p.SetValue(value);
        p.SetBound(false);
    }
}

namespace {

bool ParamEqualsField(const rtl::Param& p, const rtl::TField& f) {
    const rtl::Variant value = f.Value();
    if (p.IsNull() != value.IsNull()) return false;
    const TFieldType ft = f.DataType() == ftAutoInc ? ftInteger : f.DataType();
    if (p.DataType() != ft) return false;
    if (value.IsNull()) return true;
    return rtl::VarCompareValue(p.Value(), value) == rtl::VarRelation::Equal;
}

}  // namespace

void TSDQuery::MasterChanged() {
    DisableControls();
    try {
        rtl::TDataSet* master = dataLink_.DataSet();
        if (master != nullptr && master->Active() && master->State() != rtl::dsSetKey) {
            bool reopen = UniDirectional();
            for (int i = 0; i < params_.Count() && !reopen; ++i) {
                const rtl::TField* f = master->FindField(params_[i].Name());
                if (f == nullptr || !ParamEqualsField(params_[i], *f)) reopen = true;
            }
            if (reopen) {
                Close();
                Open();
            }
        }
    } catch (...) {
        EnableControls();
        throw;
    }
    EnableControls();
}

void TSDQuery::GetDetailLinkFields(std::vector<rtl::TField*>& masterFields,
                                   std::vector<rtl::TField*>& detailFields) {
    masterFields.clear();
    detailFields.clear();
    rtl::TDataSet* master = dataLink_.DataSet();
    if (master == nullptr) return;
    for (int i = 0; i < params_.Count(); ++i) {
        if (rtl::TField* m = master->FindField(params_[i].Name())) {
            masterFields.push_back(m);
            if (rtl::TField* d = FindField(params_[i].Name())) detailFields.push_back(d);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Changes

bool TSDQuery::GetCanModify() {
    return requestLive_ || TSDDataSet::GetCanModify();
}

void TSDQuery::InternalPost() {
    TSDDataSet::InternalPost();
    if (Live()) ApplyLiveUpdate(false, sqlText_, liveTable_);
}

void TSDQuery::InternalDelete() {
    if (Live())
        ApplyLiveUpdate(true, sqlText_, liveTable_);
    else
        TSDDataSet::InternalDelete();
}

void TSDQuery::RefreshRecord() {
    ExecuteUpdateSQL(rtl::usUnmodified, sqlText_, "", liveTable_);
}

void TSDQuery::LoadFromDataSet(rtl::TDataSet& source) {
    const bool live = requestLive_;
    requestLive_ = false;
    try {
        TSDDataSet::LoadFromDataSet(source);
    } catch (...) {
        requestLive_ = live;
        throw;
    }
    requestLive_ = live;
}

// ---------------------------------------------------------------------------------------------
// Provider support

void TSDQuery::PSSetParams(const rtl::Params& params) {
    if (Active()) Close();
    if (HasDBFlag(dsfProvider)) {
        rtl::Assert(Database() != nullptr, "TSDDataSet.PSSetParams");
        rtl::Params named = params;
        const std::string text = ReplaceQuestionMarks(Database()->ServerType(), sqlText_, named);
        if (text != sqlText_) sql_.SetText(text);
    }
    if (params.Count() == 0) return;
    sql_.BeginUpdate();
    const rtl::Params old = params_;
    rtl::Params fresh = params;
    bool keepNames = old.Count() == fresh.Count();
    for (int i = 0; i < old.Count() && keepNames; ++i)
        if (fresh.FindParam(old[i].Name()) == nullptr) keepNames = false;
    if (!keepNames)
        for (int i = 0; i < fresh.Count() && i < old.Count(); ++i)
            fresh[i].SetName(old[i].Name());
    for (int i = 0; i < fresh.Count(); ++i)
        if (fresh[i].ParamType() == ptUnknown) fresh[i].SetParamType(ptInput);
    params_ = fresh;
    sql_.EndUpdate();
}

std::string TSDQuery::PSGetTableName() const {
    return GetTableNameFromSelect(sqlText_, false);
}

void TSDQuery::PSSetCommandText(const std::string& text) {
    if (!text.empty()) sql_.SetText(text);
}

// ---------------------------------------------------------------------------------------------
// Catalog queries

std::unique_ptr<TSDQuery> OpenSchemaQuery(TSDDatabase& database, TSDSchemaType kind,
                                          const std::string& objectName) {
    TISqlCommandPtr command = database.OpenSchemaCommand(kind, objectName);
    if (!command) return nullptr;
    auto query = std::make_unique<TSDQuery>(nullptr);
    query->SetSessionName(database.GetSessionName());
    query->SetDatabaseName(database.DatabaseName());
    query->AttachCommand(std::move(command));
    query->Open();
    return query;
}
