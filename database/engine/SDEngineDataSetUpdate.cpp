// database/engine/SDEngineDataSetUpdate.cpp: how a TSDDataSet accepts changes: edits into the row
// cache, live changes written to the server one record at a time (generated statements or an
// update object), record refresh, and the provider support.
//
// A live change runs inside the database's transaction when one is open, else inside one of its
// own; under the database's "AUTOCOMMIT" parameter "TRUE" only inserts go without one. The
// statement of a change must touch exactly one row; anything else is "Registro foi alterado por
// outro usuário" and the own transaction is rolled back, so a where clause that matched several
// rows changes nothing.
#include <cstring>

#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDCommonUpdateSql.h"
#include "database/engine/SDCommonValues.h"
#include "database/engine/SDEngineDataSet.h"
#include "database/engine/SDEngineQuery.h"
#include "database/engine/SDEngineUpdateObject.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using rtl::RecordBuffer;
using rtl::TField;
using rtl::Variant;

namespace {

// The parameter type a field's value travels as.
TFieldType ParamTypeOf(TFieldType t) {
    return t == ftAutoInc ? ftInteger : t;
}

void SetParamValue(rtl::Param& param, const TField& field, const Variant& value) {
    param.SetDataType(ParamTypeOf(field.DataType()));
    param.SetParamType(ptInput);
    if (value.IsEmptyOrNull())
        param.Clear();
    else
        param.SetValue(value);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Cached updates and the update object

void TSDDataSet::SetCachedUpdates(bool value) {
    if (value != cachedUpdates_) CheckInactive();
    cachedUpdates_ = value;
    cachedUpdatesSet_ = true;
}

rtl::TUpdateStatus TSDDataSet::UpdateStatus() {
    if (!cachedUpdates_) rtl::DatabaseError("Not in cached update mode");
    RecordBuffer* buffer = State() == rtl::dsCalcFields ? CalcBuffer() : ActiveBuffer();
    if (buffer == nullptr || (State() != rtl::dsCalcFields && IsEmpty())) return rtl::usUnmodified;
    return StatusOf(*buffer);
}

bool TSDDataSet::GetCanModify() {
    return localData_ || (cachedUpdates_ && (OnUpdateRecord || updateObject_ != nullptr));
}

void TSDDataSet::SetUpdateObject(TSDDataSetUpdateObject* object) {
    if (object == updateObject_) return;
    TSDDataSetUpdateObject* old = updateObject_;
    updateObject_ = nullptr;
    if (old != nullptr && old->GetDataSet() == this) old->SetDataSet(nullptr);
    if (object != nullptr) {
        TSDDataSet* other = object->GetDataSet();
        if (other != nullptr && other != this) other->SetUpdateObject(nullptr);
    }
    updateObject_ = object;
    if (object != nullptr) object->SetDataSet(this);
}

bool TSDDataSet::GetCapability() {
    if (capability_ < 0) {
        TISqlDatabase* driver = database_ != nullptr ? database_->SqlDatabase() : nullptr;
        if (driver == nullptr) return true;  // not known yet: not cached
        capability_ = driver->SchemaNamesSupported ? 1 : 0;
    }
    return capability_ != 0;
}

// ---------------------------------------------------------------------------------------------
// Changes in the cache

void TSDDataSet::InternalPost() {
    RecordBuffer& active = *ActiveBuffer();
    if (State() == rtl::dsEdit) {
        resultSet_->UpdateItem(active);
        // Blob values written during the edit reach the row now, as new arrays.
        if (blobCount_ > 0) {
            const RecordBuffer& row = resultSet_->GetItemBuffer(BookmarkOf(active));
            for (int i = 0; i < blobCount_; ++i)
                if (active.Blob(size_t(i)) != row.Blob(size_t(i)))
                    resultSet_->ApplyBlob(i, active, active.Blob(size_t(i)));
        }
    } else {
        resultSet_->InsertRow(active, true, false);
    }
}

void TSDDataSet::InternalAddRecord(RecordBuffer& buffer, bool) {
    InternalPost();
    // The new row becomes current (its own index, whatever rows are hidden before it).
    resultSet_->SetPosition(BookmarkOf(buffer));
}

void TSDDataSet::InternalDelete() {
    if (!GetCanModify()) Error("Não é possível modificar um arquivo somente de leitura");
    resultSet_->DeleteRow(*ActiveBuffer());
}

// ---------------------------------------------------------------------------------------------
// Live changes

void TSDDataSet::ApplyLiveUpdate(bool deleting, const std::string& sql, const std::string& liveTable) {
    RecordBuffer& active = *ActiveBuffer();
    if (!deleting && StatusOf(active) == rtl::usUnmodified) return;
    if (localData_ && database_ == nullptr) {
        SetDBFlag(dsfOpened, true);
        if (updateObject_ == nullptr && !command_) PrepareCursor();
    }
    if (deleting && State() == rtl::dsEdit) resultSet_->UpdateItem(active);
    const rtl::TUpdateStatus rememberedStatus = StatusOf(active);
    // A modify or delete may match other than one row (a where clause over identical rows); its
    // count is checked before the commit, so it needs a transaction of its own even under
    // auto-commit, or a wrong count would be reported after the rows were changed for good.
    const bool countInDoubt = deleting || rememberedStatus == rtl::usModified;
    const bool ownTransaction =
        !database_->GetInTransaction() && (countInDoubt || DatabaseParam("AUTOCOMMIT") != STrueString);
    const int rowIndex = BookmarkOf(active);
    if (deleting) SetStatusOf(active, rtl::usDeleted);
    try {
        if (ownTransaction) database_->StartTransaction();
        ExecuteUpdateSQL(StatusOf(active), sql, "", liveTable);
        if (ownTransaction) database_->Commit();
        if (deleting)
            resultSet_->DeleteRow(active);
        else
            resultSet_->CommitItem(rowIndex);
    } catch (...) {
        // A lost connection may have closed this data set meanwhile (its database's handler
        // closes every data set that still has a cursor): then its buffers, its rows and its
        // hold on the database are gone, and so is the server's transaction.
        const bool closed = !Active() || !resultSet_;
        if (closed) {
            // Nothing of the cache is left to restore.
        } else if (deleting) {
            SetStatusOf(active, rememberedStatus);
        } else if (State() == rtl::dsInsert && rowIndex >= 0 && rowIndex < resultSet_->Count()) {
            resultSet_->DeleteItem(rowIndex);
        }
        if (ownTransaction && database_ != nullptr && database_->GetInTransaction()) {
            try {
                database_->Rollback();
            } catch (const std::exception&) {
                // The change's own failure is the one to report.
            }
        }
        throw;
    }
}

void TSDDataSet::ExecuteUpdateSQL(rtl::TUpdateStatus status, const std::string& sql,
                                  const std::string& refreshSql, const std::string& liveTable) {
    std::string text;
    if (status == rtl::usUnmodified && !rtl::Trim(refreshSql).empty()) {
        text = refreshSql;
    } else if (updateObject_ != nullptr) {
        auto* updateSql = dynamic_cast<TSDUpdateSQL*>(updateObject_);
        CheckFatal(updateSql != nullptr, "TSDDataSet.ExecuteUpdateSQL");
        text = updateSql->SQL(int(status)).Text();
    } else {
        const bool quote = DatabaseParam("QUOTE IDENTIFIER") == STrueString;
        if (FieldDefs().Count() == 0) InitFieldDefs();
        rtl::StringList names;
        for (int i = 0; i < FieldDefs().Count(); ++i)
            names.Add(FieldDefs()[i].Name);
        rtl::StringList origins;
        rtl::StringList tables;
        if (names.Count() > 0) AnalyseSelectText(sql, names, origins, tables);
        std::string table = liveTable;
        if (table.empty() && tables.Count() > 0) table = tables.ValueFromIndex(0);
        if (!GetCapability()) table = StripOwnerPrefix(table, true);
        // The driver compares each column with the value as it read it (its description says
        // what the server keeps there).
        TISqlDatabase* driver = database_ != nullptr ? database_->SqlDatabase() : nullptr;
        const TSDFieldDescList* descs = command_ ? command_->FieldDescs.get() : nullptr;
        auto descOf = [descs](const TField& f) -> const TSDFieldDesc* {
            if (descs == nullptr || f.FieldNo() <= 0) return nullptr;
            for (int i = 0; i < descs->Count(); ++i)
                if (descs->GetFieldDesc(i).FieldNo == f.FieldNo()) return &descs->GetFieldDesc(i);
            return nullptr;
        };
        std::vector<TSDUpdateField> fields;
        for (int i = 0; i < FieldCount(); ++i) {
            TField& f = Fields(i);
            TSDUpdateField u;
            u.FieldName = f.FieldName();
            u.IsDataField = f.FieldKind() == rtl::fkData;
            u.IsBlob = f.IsBlob();
            u.Modified = f.Modified;
            u.IsIndexField = GetIsIndexField(f);
            u.IsAutoInc = f.DataType() == ftAutoInc || f.AutoIncrement;
            if (u.IsDataField) {
                u.OldValue = f.OldValue();
                u.NewValue = f.Value();
                if (const TSDFieldDesc* desc = driver != nullptr ? descOf(f) : nullptr)
                    u.OldValueCondition = [driver, desc](const std::string& column,
                                                         const std::string& marker) {
                        return driver->OldValueCondition(*desc, column, marker);
                    };
            }
            fields.push_back(std::move(u));
        }
        text = GenerateModifySql(TSDModifyKind(status), UpdateMode(), table, quote, fields, origins);
    }
    if (rtl::Trim(text).empty()) {
        if (status == rtl::usUnmodified) rtl::DatabaseError(SNoSqlStatement);
        return;
    }
    RecordBuffer& active = *ActiveBuffer();
    const int rowIndex = BookmarkOf(active);
    TISqlCommandPtr command = CreateCommand();
    command->CommandType = 0;
    rtl::Params params;
    CreateParamsFromSql(&params, text);
    for (int i = 0; i < params.Count(); ++i) {
        rtl::Param& p = params[i];
        if (StartsWithNoCase(p.Name(), "OLD_")) {
            if (TField* f = FindFieldCached(p.Name().substr(4))) SetParamValue(p, *f, f->OldValue());
        } else if (TField* f = FindFieldCached(p.Name())) {
            SetParamValue(p, *f, f->Value());
        }
    }
    command->SetParams(&params);
    command->LongDataSize = LongColumnSize;
    command->ExecDirect(text);
    if (status != rtl::usUnmodified) {
        if (command->GetRowsAffected() != 1) rtl::DatabaseError(SRecordChanged);
        if (rowIndex >= 0 && rowIndex < resultSet_->Count()) resultSet_->SetItemFlag(rowIndex, 1);
        if (autoRefresh_ && status == rtl::usInserted && rowIndex >= 0)
            AutoRefreshIdentity(*command, rowIndex);
    } else {
        ExecuteRefreshStatement(*command, rowIndex);
    }
}

void TSDDataSet::ExecuteRefreshStatement(TISqlCommand& command, int rowIndex) {
    if (!command.FetchNextRow()) rtl::DatabaseError(SRecordChanged);
    RecordBuffer& row = resultSet_->GetItemBuffer(rowIndex);
    for (int i = 0; i < command.FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = command.FieldDescs->GetFieldDesc(i);
        ISqlCnvtFieldData(command, d, &FieldByName(d.FieldName), row);
    }
    resultSet_->RowWritten();
    command.CloseResultSet();
    resultSet_->SetPosition(rowIndex);
    Resync(rtl::rmExact);
}

void TSDDataSet::AutoRefreshIdentity(TISqlCommand& command, int rowIndex) {
    RecordBuffer& row = resultSet_->GetItemBuffer(rowIndex);
    // The first auto-increment field that the insert left null receives the identity.
    TField* target = nullptr;
    for (int i = 0; i < FieldCount() && target == nullptr; ++i) {
        TField& f = Fields(i);
        const int slot = FieldSlot(f);
        if (slot >= 0 && (f.DataType() == ftAutoInc || f.AutoIncrement) && row.Data()[slot] == 0) target = &f;
    }
    // Without such a field there is nothing to fill, and no identity query to run (which may
    // fail when the insert generated no value, as PostgreSQL's lastval() does).
    if (target == nullptr) return;
    // Stored in the field's own width (a serial key is an integer, a bigserial a 64-bit one).
    auto store = [&](int64_t identity) {
        const int slot = FieldSlot(*target);
        uint8_t* data = row.Data() + slot + 1;
        if (target->DataType() == ftLargeint) {
            std::memcpy(data, &identity, 8);
        } else if (target->DataType() == ftSmallint || target->DataType() == ftWord) {
            if (identity > 65535) return;
            const uint16_t value = uint16_t(identity);
            std::memcpy(data, &value, 2);
        } else if (target->DataType() == ftInteger || target->DataType() == ftAutoInc) {
            if (identity > INT32_MAX) return;
            const int32_t value = int32_t(identity);
            std::memcpy(data, &value, 4);
        } else {
            return;
        }
        row.Data()[slot] = 1;
        resultSet_->RowWritten();
    };
    const int32_t identity = command.GetIdentityValue();
    if (identity == -1) {
        const std::string query = GetSqlDatabaseIdentityQuery();
        if (query.empty()) return;
        command.ClearPreparedText();
        command.SetParams(nullptr);  // the update's parameters belong to the update
        command.Prepare(query);
        command.Execute();
        if (command.FetchNextRow() && command.FieldDescs->Count() > 0) {
            // Read as text, whatever type the query's column has (a data source that cannot
            // type an expression's column, SQLite's driver, gives text; PostgreSQL's lastval()
            // a 64-bit integer for a key of any width).
            const TSDFieldDesc& d = command.FieldDescs->GetFieldDesc(0);
            std::string text;
            int64_t value = 0;
            if (command.GetFieldAsString(d.FieldNo, text) && rtl::TryStrToInt64(rtl::Trim(text), value) &&
                value > 0)
                store(value);
        }
        command.CloseResultSet();
    } else if (identity > 0) {
        store(identity);
    }
}

std::string TSDDataSet::GetSqlDatabaseIdentityQuery() {
    TISqlDatabase* driver = database_ != nullptr ? database_->SqlDatabase() : nullptr;
    return driver != nullptr ? driver->GetIdentityQuery() : std::string();
}

// ---------------------------------------------------------------------------------------------
// Record refresh

void TSDDataSet::RefreshRecord() {
    ExecuteUpdateSQL(rtl::usUnmodified, SelectSQL(), "", "");
}

void TSDDataSet::RefreshRecordWithSQL(const std::string& sql) {
    CheckFatal(command_ != nullptr, "TSDDataSet.RefreshRecordWithSQL");
    ExecuteUpdateSQL(rtl::usUnmodified, SelectSQL(), sql, "");
}

void TSDDataSet::RefreshRecordFrom(const std::string& sql) {
    ExecuteUpdateSQL(rtl::usUnmodified, SelectSQL(), sql, "");
}

// ---------------------------------------------------------------------------------------------
// Provider support

void TSDDataSet::PSReset() {
    if (!Active()) return;
    CheckBrowseMode();
    UpdateCursorPos();
    InternalRefresh();
    Resync(0);
}

bool TSDDataSet::PSInTransaction() {
    TSDSession& session = Sessions().GetSession(sessionName_);
    TSDDatabase* db = session.FindDatabaseForOwner(databaseName_, Owner());
    if (db == nullptr) db = session.FindDatabase(databaseName_);
    return db != nullptr && db->GetInTransaction();
}

void TSDDataSet::PSStartTransaction() {
    const bool previous = SetDBFlag(dsfProvider, true);
    try {
        database_->StartTransaction();
    } catch (...) {
        if (!previous) SetDBFlag(dsfProvider, false);
        throw;
    }
}

void TSDDataSet::PSEndTransaction(bool commit) {
    std::exception_ptr failure;
    if (database_ != nullptr) {
        try {
            if (commit) {
                try {
                    database_->Commit();
                } catch (...) {
                    try {
                        database_->Rollback();
                    } catch (const std::exception&) {
                        // The commit's failure is the one to report.
                    }
                    throw;
                }
            } else {
                database_->Rollback();
            }
        } catch (...) {
            failure = std::current_exception();
        }
    }
    SetDBFlag(dsfProvider, false);
    if (failure) std::rethrow_exception(failure);
}

std::string ReplaceQuestionMarks(TSDServerType server, const std::string& sql, rtl::Params& params) {
    if (server == stDB2 || server == stInformix || server == stODBC || server == stInterbase) return sql;
    if (params.Count() == 0 || sql.find('?') == std::string::npos) return sql;
    std::string text = sql;
    for (int i = 0; i < params.Count(); ++i) {
        rtl::Param& p = params[i];
        if (p.Name().empty()) p.SetName(rtl::IntToStr(i + 1));
        ReplaceParamMarker(true, "?", ":" + p.Name(), text);
    }
    return text;
}

int TSDDataSet::PSExecuteStatement(const std::string& sql, const rtl::Params& params,
                                   std::unique_ptr<TSDQuery>* resultSet) {
    const bool previous = SetDBFlag(dsfProvider, true);
    struct Restore {
        TSDDataSet& ds;
        bool previous;
        ~Restore() {
            if (!previous) {
                try {
                    ds.SetDBFlag(dsfProvider, false);
                } catch (const std::exception&) {
                    // Releasing the database cannot report from here.
                }
            }
        }
    } restore{*this, previous};
    auto query = std::make_unique<TSDQuery>(nullptr);
    query->SetSessionName(sessionName_);
    query->SetDatabaseName(databaseName_);
    rtl::Assert(database_ != nullptr, "TSDDataSet.PSExecuteStatement");
    rtl::Params given = params;
    const std::string text = ReplaceQuestionMarks(database_->ServerType(), sql, given);
    query->SQL().SetText(text);
    query->Params().Assign(given);
    for (int i = 0; i < query->Params().Count(); ++i)
        if (query->Params()[i].ParamType() == ptUnknown) query->Params()[i].SetParamType(ptInput);
    if (resultSet != nullptr) {
        query->Open();
        *resultSet = std::move(query);
        return -1;
    }
    query->ExecuteStatement();
    return query->GetRowsAffected();
}

std::unique_ptr<rtl::EUpdateError> TSDDataSet::PSGetUpdateException(const std::exception& e,
                                                                    const rtl::EUpdateError* previous) {
    const auto* engine = dynamic_cast<const ESDEngineError*>(&e);
    if (engine == nullptr) return nullptr;
    return std::make_unique<rtl::EUpdateError>(engine->Message(), "", engine->ErrorCode,
                                               previous != nullptr ? previous->ErrorCode : 0,
                                               std::make_exception_ptr(*engine));
}

bool TSDDataSet::PSUpdateRecord(rtl::TUpdateKind kind, rtl::TDataSet& delta) {
    if (OnUpdateRecord) {
        rtl::TUpdateAction action = rtl::uaFail;
        OnUpdateRecord(delta, kind, action);
        return action == rtl::uaApplied;
    }
    auto* updateSql = dynamic_cast<TSDUpdateSQL*>(updateObject_);
    if (updateSql == nullptr) return false;
    const std::string text = updateSql->SQL(int(kind) + 1).Text();
    if (rtl::Trim(text).empty()) return false;
    rtl::Params params;
    CreateParamsFromSql(&params, text);
    for (int i = 0; i < params.Count(); ++i) {
        rtl::Param& p = params[i];
        if (StartsWithNoCase(p.Name(), "OLD_")) {
            if (TField* f = delta.FindField(p.Name().substr(4))) SetParamValue(p, *f, f->OldValue());
        } else if (TField* f = delta.FindField(p.Name())) {
            Variant value = f->NewValue();
            if (value.IsEmpty()) value = f->OldValue();
            SetParamValue(p, *f, value);
        }
    }
    if (PSExecuteStatement(text, params) == 0) rtl::DatabaseError(SRecordChanged);
    return true;
}
