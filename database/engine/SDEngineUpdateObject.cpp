// database/engine/SDEngineUpdateObject.cpp: TSDUpdateSQL, the update object of hand-written statements.
#include "database/engine/SDEngineUpdateObject.h"

#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDEngineQuery.h"
#include "rtl/Assert.h"
#include "rtl/Text.h"

TSDUpdateSQL::TSDUpdateSQL(rtl::Component* owner) : TSDDataSetUpdateObject(owner) {
    for (int i = 0; i < 4; ++i)
        sql_[i].OnChange = [this, i] { StatementChanged(i); };
}

TSDUpdateSQL::~TSDUpdateSQL() {
    MarkDestroying();
    for (auto& list : sql_)
        list.OnChange = nullptr;
    if (dataSet_ != nullptr && dataSet_->UpdateObject() == this) dataSet_->SetUpdateObject(nullptr);
    for (auto& q : queries_)
        q.reset();
}

rtl::NotifyStringList& TSDUpdateSQL::SQL(int index) {
    rtl::Assert(index >= 0 && index < 4, "TSDUpdateSQL.SQL: index outside 0..3");
    return sql_[index];
}

void TSDUpdateSQL::StatementChanged(int index) {
    if (!queries_[index]) return;
    queries_[index]->Params().Clear();
    queries_[index]->SQL().Assign(sql_[index].Lines());
}

TSDQuery& TSDUpdateSQL::GetQuery(int index) {
    rtl::Assert(index >= 0 && index < 4, "TSDUpdateSQL.GetQuery: index outside 0..3");
    if (!queries_[index]) {
        rtl::Assert(dataSet_ != nullptr, "Property TSDUpdateObject.DataSet = nil !!!");
        auto query = std::make_unique<TSDQuery>(this);
        query->SQL().Assign(sql_[index].Lines());
        query->SetSessionName(dataSet_->SessionName());
        query->SetDatabaseName(dataSet_->DatabaseName());
        queries_[index] = std::move(query);
    }
    return *queries_[index];
}

void TSDUpdateSQL::SetDataSet(TSDDataSet* dataSet) {
    if (dataSet == dataSet_) return;
    for (auto& q : queries_) {
        if (!q) continue;
        try {
            q->ReleaseStatement();
        } catch (const std::exception&) {
            // The query goes either way.
        }
        q.reset();
    }
    dataSet_ = dataSet;
}

void TSDUpdateSQL::BindParams(rtl::TUpdateKind kind) {
    if (dataSet_ == nullptr) return;
    TSDQuery& query = GetQuery(int(kind) + 1);
    for (int i = 0; i < query.Params().Count(); ++i) {
        rtl::Param& p = query.Params()[i];
        rtl::TField* field = nullptr;
        rtl::Variant value;
        if (StartsWithNoCase(p.Name(), "OLD_")) {
            field = dataSet_->FindFieldCached(p.Name().substr(4));
            if (field != nullptr) value = field->OldValue();
        } else {
            field = dataSet_->FindFieldCached(p.Name());
            if (field != nullptr) value = field->Value();  // a null blob gives null
        }
        if (field == nullptr) continue;
        p.SetDataType(field->DataType() == ftAutoInc ? ftInteger : field->DataType());
        p.SetParamType(ptInput);
        if (value.IsEmptyOrNull())
            p.Clear();
        else
            p.SetValue(value);
    }
}

void TSDUpdateSQL::ExecuteStatement(rtl::TUpdateKind kind) {
    TSDQuery& query = GetQuery(int(kind) + 1);
    query.ExecuteStatement();
    bool strict = true;
    if (dataSet_ != nullptr) {
        TSDDatabase* db = dataSet_->Database();
        if (db == nullptr) {
            if (TSDSession* s = Sessions().FindSession(dataSet_->SessionName()))
                db = s->FindDatabase(dataSet_->DatabaseName());
        }
        if (db != nullptr)
            strict = rtl::UpperCase(rtl::Trim(db->Params().Values("STRICT UPDATE"))) != SFalseString;
    }
    if (strict && query.GetRowsAffected() != 1) rtl::DatabaseError(SUpdateFailed);
}

void TSDUpdateSQL::Apply(rtl::TUpdateKind kind) {
    BindParams(kind);
    ExecuteStatement(kind);
}
