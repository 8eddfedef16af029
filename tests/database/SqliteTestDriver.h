// A driver over SQLite for the tests: real subclasses of TISqlDatabase and TISqlCommand that
// run statements on an SQLite database file (libsqlite3), so that the buffers, the wrappers,
// the generated update statements and the engine's connect path meet a real SQL engine.
//
// Parameters are bound by name (":NAME" markers are SQLite's own syntax) from the cells of
// the command's parameter buffer, which this driver fills as a client library would; rows
// arrive in the cells of the row buffer and long values in the blob slots.
#pragma once

#include <sqlite3.h>

#include <cstring>
#include <string>
#include <vector>

#include "database/engine/SDCommon.h"
#include "database/engine/SDCommonCommand.h"
#include "database/engine/SDCommonValues.h"
#include "rtl/DateTime.h"
#include "rtl/Text.h"

SD_ENGINE_ERROR(ESDSqliteError, ESDEngineError);

namespace sqlitetest {

class SqliteDatabase;

class SqliteCommand : public TISqlCommand {
public:
    SqliteCommand(SqliteDatabase* db, rtl::Component* owner);
    ~SqliteCommand() override { Finalize(); }

    sqlite3_stmt* Statement() const { return stmt_; }

protected:
    void DoPrepare(const std::string& sql) override {
        PrepareStatement(sql);
        SetPreparedText(sql);
    }
    void DoExecDirect(const std::string& sql) override {
        PrepareStatement(sql);
        AllocParamsBuffer();
        BindParamsBuffer();
        Step();
    }
    void DoExecute() override {
        sqlite3_reset(stmt_);
        done_ = false;
        Step();
    }
    bool DoFetchNextRow() override;

public:
    void BindParamsBuffer() override;
    void SetFieldsBuffer() override {}  // SQLite hands values over per call; nothing to define
    void GetFieldDescs(TSDFieldDescList& list) override;
    bool RequiredCnvtFieldType(TFieldType t) override { return IsDateTimeFieldType(t); }
    uint16_t NativeDataSize(TFieldType t) override { return t == ftGuid ? 38 : 8; }
    void* GetHandle() override { return stmt_; }
    void Disconnect(bool) override { Finalize(); }
    void CloseResultSet() override {
        if (stmt_) sqlite3_reset(stmt_);
    }
    int32_t GetRowsAffected() override { return changes_; }
    bool ResultSetExists() override { return stmt_ != nullptr && sqlite3_column_count(stmt_) > 0; }
    bool GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) override;
    int32_t ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) override {
        const int col = desc.FieldNo - 1;
        const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, col));
        const int n = sqlite3_column_bytes(stmt_, col);
        data.assign(p, p + n);
        return n;
    }

private:
    void PrepareStatement(const std::string& sql);
    void Step();
    void Finalize() {
        if (stmt_) sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
    SqliteDatabase& Db() const;

    sqlite3_stmt* stmt_ = nullptr;
    bool pendingRow_ = false;
    bool done_ = false;
    int32_t changes_ = 0;
};

class SqliteDatabase : public TISqlDatabase {
public:
    SqliteDatabase(rtl::Component* owner, const rtl::StringList& params, TSDServerType type = stODBC)
        : TISqlDatabase(owner, params, type) {}
    ~SqliteDatabase() override {
        if (db_) sqlite3_close_v2(db_);
    }

    sqlite3* Handle() const { return db_; }
    std::vector<std::string> statements;  // every statement run, in order

    // The check after each library call.
    void Check(int rc) {
        MarkActivity();
        if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE) return;
        EndWaitCursor();
        const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        const int32_t native = db_ ? sqlite3_extended_errcode(db_) : rc;
        HandleError(ESDSqliteError(rc, native, message, false));
    }
    void Exec(const std::string& sql) {
        statements.push_back(sql);
        Check(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr));
    }

protected:
    void DoConnect(const std::string& remote, const std::string&, const std::string&) override {
        const int rc =
            sqlite3_open_v2(remote.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        if (rc != SQLITE_OK) {
            const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
            if (db_) sqlite3_close_v2(db_);
            db_ = nullptr;
            EndWaitCursor();
            HandleError(ESDSqliteError(rc, rc, message, false));
        }
    }
    void DoDisconnect(bool) override {
        if (db_) sqlite3_close_v2(db_);
        db_ = nullptr;
    }
    void DoCommit() override { Exec("COMMIT"); }
    void DoRollback() override { Exec("ROLLBACK"); }
    void DoStartTransaction() override { Exec("BEGIN"); }

public:
    void* GetHandle() override { return db_; }
    void SetAutoCommitOption(bool) override {}  // SQLite commits by itself outside BEGIN
    void SetTransIsolation(TSDTransIsolation) override {}
    TISqlCommandPtr CreateSqlCommand(rtl::Component* owner) override {
        return MakeSqlCommand<SqliteCommand>(this, owner);
    }
    std::string GetIdentityQuery() override { return "select last_insert_rowid()"; }
    int32_t GetClientVersion() override { return ParseVersionNumber(sqlite3_libversion()); }
    int32_t GetServerVersion() override { return ParseVersionNumber(sqlite3_libversion()); }
    std::string GetVersionString() override { return std::string("SQLite ") + sqlite3_libversion(); }
    bool TestConnected() override { return db_ != nullptr; }

private:
    sqlite3* db_ = nullptr;
};

inline SqliteCommand::SqliteCommand(SqliteDatabase* db, rtl::Component* owner) : TISqlCommand(db, owner) {}

inline SqliteDatabase& SqliteCommand::Db() const {
    return static_cast<SqliteDatabase&>(GetSqlDatabase());
}

inline void SqliteCommand::PrepareStatement(const std::string& sql) {
    Finalize();
    Db().statements.push_back(sql);
    Db().Check(sqlite3_prepare_v2(Db().Handle(), sql.c_str(), -1, &stmt_, nullptr));
    pendingRow_ = false;
    done_ = false;
    changes_ = 0;
    InitFieldDescs();
}

inline void SqliteCommand::Step() {
    const int rc = sqlite3_step(stmt_);
    pendingRow_ = rc == SQLITE_ROW;
    done_ = rc == SQLITE_DONE;
    if (done_) changes_ = sqlite3_changes(Db().Handle());
    Db().Check(rc);
}

inline void SqliteCommand::BindParamsBuffer() {
    if (Params == nullptr) return;
    int32_t offset = 0;
    for (int i = 0; i < Params->Count(); ++i) {
        const TParam& p = (*Params)[i];
        const int32_t size = ParamDataSize(p);
        uint8_t* cell = ParamsBuffer->Data() + offset;
        uint8_t* data = cell + kCellHeaderSize;
        offset += size + kCellHeaderSize;
        int index = sqlite3_bind_parameter_index(stmt_, (":" + p.Name()).c_str());
        if (index == 0) index = i + 1;  // a "?" marker
        if (p.IsNull()) {
            SetCellHeader(cell, 0, -1, 0);
            Db().Check(sqlite3_bind_null(stmt_, index));
            continue;
        }
        switch (p.DataType()) {
            case ftSmallint:
            case ftWord:
            case ftBoolean:
                SetBufferSmallint(data, 0, int16_t(p.Value().AsInteger()));
                SetCellHeader(cell, 0, 0, 2);
                Db().Check(sqlite3_bind_int(stmt_, index, int16_t(GetBufferWord(data, 0))));
                break;
            case ftInteger:
            case ftAutoInc:
                SetBufferInteger(data, 0, p.Value().AsInteger());
                SetCellHeader(cell, 0, 0, 4);
                Db().Check(sqlite3_bind_int(stmt_, index, GetBufferInteger(data, 0)));
                break;
            case ftLargeint:
                SetBufferInt64(data, 0, p.Value().AsInt64());
                SetCellHeader(cell, 0, 0, 8);
                Db().Check(sqlite3_bind_int64(stmt_, index, GetBufferInt64(data, 0)));
                break;
            case ftFloat:
            case ftCurrency:
            case ftBCD:
                SetBufferDouble(data, 0, p.Value().AsDouble());
                SetCellHeader(cell, 0, 0, 8);
                Db().Check(sqlite3_bind_double(stmt_, index, GetBufferDouble(data, 0)));
                break;
            case ftDate:
            case ftTime:
            case ftDateTime: {
                // Dates are kept as text in SQLite; the cell holds the date-time number.
                SetBufferDouble(data, 0, p.Value().AsDateTime());
                SetCellHeader(cell, 0, 0, 8);
                const std::string text = rtl::FormatDateTime("yyyy-mm-dd hh:nn:ss", GetBufferDouble(data, 0));
                Db().Check(sqlite3_bind_text(stmt_, index, text.c_str(), -1, SQLITE_TRANSIENT));
                break;
            }
            default:
                if (IsBlobFieldType(Db().GetServerType(), p.DataType()) || p.DataType() == ftBytes) {
                    // Long values go straight to the library, not through a cell.
                    const rtl::ByteArray bytes = p.Value().AsBytes();
                    SetCellHeader(cell, 0, 0, int32_t(bytes.size()));
                    Db().Check(
                        sqlite3_bind_blob(stmt_, index, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT));
                } else {
                    const std::string text = p.AsString();
                    SetBufferString(data, 0, text, size - 1);
                    SetCellHeader(cell, 0, 0, int32_t(text.size()));
                    Db().Check(sqlite3_bind_text(stmt_, index, reinterpret_cast<const char*>(data),
                                                 int(text.size()), SQLITE_TRANSIENT));
                }
                break;
        }
    }
}

inline void SqliteCommand::GetFieldDescs(TSDFieldDescList& list) {
    const int n = sqlite3_column_count(stmt_);
    for (int i = 0; i < n; ++i) {
        TSDFieldDesc& d = list.AddFieldDesc();
        d.FieldName = sqlite3_column_name(stmt_, i);
        const char* decl = sqlite3_column_decltype(stmt_, i);
        const std::string type = rtl::UpperCase(decl ? decl : "");
        if (type.find("INT") != std::string::npos) {
            d.FieldType = type.find("BIG") != std::string::npos ? ftLargeint : ftInteger;
            d.DataSize = d.FieldType == ftLargeint ? 8 : 4;
        } else if (type.find("REAL") != std::string::npos || type.find("FLOA") != std::string::npos ||
                   type.find("DOUB") != std::string::npos || type.find("NUM") != std::string::npos) {
            d.FieldType = ftFloat;
            d.DataSize = 8;
        } else if (type.find("BLOB") != std::string::npos) {
            d.FieldType = ftBlob;
        } else if (type.find("DATE") != std::string::npos || type.find("TIME") != std::string::npos) {
            d.FieldType = ftDateTime;
            d.DataSize = 8;
        } else {
            d.FieldType = ftString;
            d.DataSize = Db().MaxStringSize + 1;
        }
    }
}

inline bool SqliteCommand::DoFetchNextRow() {
    if (!pendingRow_) {
        if (done_ || stmt_ == nullptr) return false;
        Step();
        if (!pendingRow_) return false;
    }
    pendingRow_ = false;
    TSDBuffer* buffer = GetFieldsBuffer();
    for (int i = 0; i < FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = FieldDescs->GetFieldDesc(i);
        const int col = d.FieldNo - 1;
        uint8_t* cell = GetFieldCell(d.FieldNo, buffer);
        uint8_t* data = cell + kCellHeaderSize;
        if (sqlite3_column_type(stmt_, col) == SQLITE_NULL) {
            SetCellHeader(cell, 0, -1, 0);
            continue;
        }
        switch (d.FieldType) {
            case ftInteger:
                SetBufferInteger(data, 0, sqlite3_column_int(stmt_, col));
                SetCellHeader(cell, 0, 0, 4);
                break;
            case ftLargeint:
                SetBufferInt64(data, 0, sqlite3_column_int64(stmt_, col));
                SetCellHeader(cell, 0, 0, 8);
                break;
            case ftFloat:
                SetBufferDouble(data, 0, sqlite3_column_double(stmt_, col));
                SetCellHeader(cell, 0, 0, 8);
                break;
            case ftDateTime: {
                const rtl::TDateTime dt =
                    SqlTextToDateTime(reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col)));
                SetBufferDateTimeRec(
                    data, 0,
                    TSDDateTimeRec::FromDateTime(rtl::TimeStampToMSecs(rtl::DateTimeToTimeStamp(dt))));
                SetCellHeader(cell, 0, 0, 8);
                break;
            }
            case ftBlob:
                SetCellHeader(cell, 0, 0, sqlite3_column_bytes(stmt_, col));
                break;
            default: {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
                const int n = std::min(sqlite3_column_bytes(stmt_, col), d.DataSize - 1);
                std::memcpy(data, text, size_t(n));
                data[n] = 0;
                if (Db().RTrimCharOutput && d.IsFixedChar) TrimTrailingBlanks(reinterpret_cast<char*>(data));
                SetCellHeader(cell, 0, 0, n);
                break;
            }
        }
    }
    if (BlobFieldCount > 0) ReadBlobsToSlots();
    return true;
}

inline bool SqliteCommand::GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) {
    const uint8_t* cell = GetFieldCell(desc.FieldNo, GetFieldsBuffer());
    int32_t indicator = 0;
    int32_t length = 0;
    GetCellHeader(cell, 0, indicator, length);
    if (indicator == -1) return false;
    const uint8_t* data = cell + kCellHeaderSize;
    if (desc.FieldType == ftString) {
        const int32_t n = std::min(length, destSize - 1);
        std::memcpy(dest, data, size_t(std::max(n, 0)));
        if (destSize > 0) static_cast<char*>(dest)[std::max(n, 0)] = 0;
    } else {
        std::memcpy(dest, data, size_t(std::min(desc.DataSize, destSize)));
    }
    return true;
}

}  // namespace sqlitetest
