// database/engine/SDEngineUpdateObject.h: update objects of the SQL data sets (part of unit SDEngine).
//
// A data set whose changes must not go through generated statements takes an update object.
// TSDUpdateSQL holds four hand-written statements, indexed by the row's update status:
// 0 RefreshSQL, 1 ModifySQL, 2 InsertSQL, 3 DeleteSQL. Their ":NAME" parameters take the new
// value of the field NAME, ":OLD_NAME" the value before the change. Each statement runs on a
// TSDQuery of its own, made on first use and owned by the update object.
//
// The link between a data set and its update object is kept from both sides: a data set serves
// at most one update object and the other way round; whichever goes first clears the link.
#pragma once

#include <memory>

#include "rtl/Component.h"
#include "rtl/DataSet.h"
#include "rtl/NotifyStringList.h"

class TSDDataSet;
class TSDQuery;

class TSDDataSetUpdateObject : public rtl::Component {
public:
    explicit TSDDataSetUpdateObject(rtl::Component* owner = nullptr) : rtl::Component(owner) {}
    virtual TSDDataSet* GetDataSet() const = 0;
    virtual void SetDataSet(TSDDataSet* dataSet) = 0;
    virtual void Apply(rtl::TUpdateKind kind) = 0;
};

class TSDUpdateSQL : public TSDDataSetUpdateObject {
public:
    explicit TSDUpdateSQL(rtl::Component* owner = nullptr);
    ~TSDUpdateSQL() override;

    // The statement of an update status (0 refresh, 1 modify, 2 insert, 3 delete).
    rtl::NotifyStringList& SQL(int index);
    rtl::NotifyStringList& RefreshSQL() { return SQL(0); }
    rtl::NotifyStringList& ModifySQL() { return SQL(1); }
    rtl::NotifyStringList& InsertSQL() { return SQL(2); }
    rtl::NotifyStringList& DeleteSQL() { return SQL(3); }

    TSDDataSet* GetDataSet() const override { return dataSet_; }
    void SetDataSet(TSDDataSet* dataSet) override;
    void Apply(rtl::TUpdateKind kind) override;
    // The query of a statement, made on first use with the data set's session and database.
    virtual TSDQuery& GetQuery(int index);
    // The parameters of the kind's statement from the data set's fields.
    void BindParams(rtl::TUpdateKind kind);
    // Runs the kind's statement; "Update failed" when it did not change exactly one row, unless
    // the database's "STRICT UPDATE" parameter is "FALSE".
    void ExecuteStatement(rtl::TUpdateKind kind);

private:
    void StatementChanged(int index);

    TSDDataSet* dataSet_ = nullptr;
    rtl::NotifyStringList sql_[4];
    std::unique_ptr<TSDQuery> queries_[4];
};
