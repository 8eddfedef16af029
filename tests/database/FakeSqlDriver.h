// A small driver for the tests of the driver layer and the engine: real subclasses of
// TISqlDatabase and TISqlCommand that keep their "server" in memory and record every call
// they receive, so a test can check the order of the wrappers' steps, make any step fail,
// and report server errors (lost connections included) the way a real driver does.
#pragma once

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "database/engine/SDCommon.h"
#include "database/engine/SDCommonCommand.h"
#include "database/engine/SDEngine.h"
#include "rtl/Format.h"

SD_ENGINE_ERROR(ESDFakeError, ESDEngineError);

namespace fake {

// The calls a driver received, in order.
struct CallLog {
    std::vector<std::string> calls;
    void Add(const std::string& call) { calls.push_back(call); }
    std::string Joined() const {
        std::string out;
        for (const auto& c : calls)
            out += (out.empty() ? "" : " ") + c;
        return out;
    }
    void Clear() { calls.clear(); }
};

// A column of the fake server's result: its description and, per row, its cell bytes
// (std::nullopt-free: an empty optional value is encoded by `nulls`).
struct Column {
    std::string name;
    TFieldType type = ftInteger;
    int32_t dataSize = 4;
    int16_t nativeType = 0;
};

using Cell = std::vector<uint8_t>;  // the value in the engine's layout; empty vector = null
inline Cell IntCell(int32_t v) {
    Cell c(4);
    std::memcpy(c.data(), &v, 4);
    return c;
}
inline Cell SmallCell(int16_t v) {
    Cell c(2);
    std::memcpy(c.data(), &v, 2);
    return c;
}
inline Cell FloatCell(double v) {
    Cell c(8);
    std::memcpy(c.data(), &v, 8);
    return c;
}
inline Cell Int64Cell(int64_t v) {
    Cell c(8);
    std::memcpy(c.data(), &v, 8);
    return c;
}
inline Cell TextCell(const std::string& s) {
    return Cell(s.begin(), s.end());
}
inline Cell DateTimeCell(const TSDDateTimeRec& r) {
    return Cell(r.Bytes, r.Bytes + 8);
}

class FakeDatabase;

class FakeCommand : public TISqlCommand {
public:
    FakeCommand(FakeDatabase* db, rtl::Component* owner, CallLog& log);
    ~FakeCommand() override { log_.Add("~Command"); }

    std::vector<Column> columns;
    std::vector<std::vector<Cell>> rows;
    std::map<std::string, rtl::ByteArray> blobs;  // "row:col" -> long value
    std::set<std::string> failIn;                 // steps that raise a server error
    bool handle = false;
    // With "DoFetchNextRow" in failIn, the fetch of this row (1: the first) and every later one
    // fail.
    size_t failingFetch = 1;
    // Failures seen by the execution and fetch steps. Like a real driver's, their frames go on
    // using the command after the error (ODBC leaves its direct mode there), also when the
    // error closed the data set and dropped the command meanwhile.
    int failures = 0;

protected:
    void DoPrepare(const std::string& sql) override {
        log_.Add("DoPrepare(" + sql + ")");
        Fail("DoPrepare");
        handle = true;
        SetPreparedText(sql);
        InitFieldDescs();
    }
    void DoExecDirect(const std::string& sql) override {
        log_.Add("DoExecDirect(" + sql + ")");
        FailCounted("DoExecDirect");
        handle = true;
        InitFieldDescs();
        next_ = 0;
    }
    void DoExecute() override {
        log_.Add("DoExecute");
        FailCounted("DoExecute");
        next_ = 0;
    }
    bool DoFetchNextRow() override {
        log_.Add("DoFetchNextRow");
        if (++fetches_ >= failingFetch) FailCounted("DoFetchNextRow");
        if (next_ >= rows.size()) return false;
        current_ = next_++;
        if (BlobFieldCount > 0) ReadBlobsToSlots();
        return true;
    }

public:
    void BindParamsBuffer() override {
        log_.Add(rtl::Format("BindParamsBuffer(%d)", ParamsBuffer ? int(ParamsBuffer->Size()) : 0));
    }
    void SetFieldsBuffer() override {
        log_.Add(rtl::Format("SetFieldsBuffer(%d)", FieldsBuffer ? int(FieldsBuffer->Size()) : 0));
    }
    void GetFieldDescs(TSDFieldDescList& list) override {
        for (const Column& c : columns) {
            TSDFieldDesc& d = list.AddFieldDesc();
            d.FieldName = c.name;
            d.FieldType = c.type;
            d.DataSize = c.dataSize;
            d.NativeType = c.nativeType;
        }
        Fail("GetFieldDescs");
    }
    bool IsFixedCharType(int32_t nativeType) override { return nativeType == 1; }
    void* GetHandle() override { return handle ? this : nullptr; }
    bool RequiredCnvtFieldType(TFieldType t) override { return t == ftDateTime; }
    uint16_t NativeDataSize(TFieldType t) override { return t == ftGuid ? 38 : 16; }
    void Disconnect(bool force) override {
        log_.Add(rtl::Format("Command.Disconnect(%s)", force ? "true" : "false"));
        handle = false;
    }
    void CloseResultSet() override { log_.Add("CloseResultSet"); }
    int32_t GetRowsAffected() override { return int32_t(rows.size()); }
    bool ResultSetExists() override { return !columns.empty(); }
    bool GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) override {
        const Cell& cell = rows.at(current_).at(size_t(desc.FieldNo - 1));
        if (cell.empty()) return false;
        std::memcpy(dest, cell.data(), std::min(size_t(destSize), cell.size()));
        return true;
    }
    int32_t ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) override {
        auto it = blobs.find(std::to_string(current_) + ":" + std::to_string(desc.FieldNo));
        data = it == blobs.end() ? rtl::ByteArray() : it->second;
        return int32_t(data.size());
    }

private:
    void Fail(const std::string& step);
    void FailCounted(const std::string& step) {
        try {
            Fail(step);
        } catch (...) {
            ++failures;
            throw;
        }
    }

    CallLog& log_;
    size_t fetches_ = 0;
    size_t next_ = 0;
    size_t current_ = 0;
};

// The fake connection. Knobs decide which steps fail and how.
class FakeDatabase : public TISqlDatabase {
public:
    FakeDatabase(rtl::Component* owner, const rtl::StringList& params, TSDServerType type, CallLog& log)
        : TISqlDatabase(owner, params, type), log(log) {
        log.Add(rtl::Format("Create(%s)", GetServerTypeName(type)));
    }
    ~FakeDatabase() override { log.Add("~Database"); }

    CallLog& log;
    std::set<std::string> failIn;      // steps that report a server error through HandleError
    std::set<std::string> throwIn;     // steps that throw a plain exception (not a server error)
    bool lostConnection = false;       // the server errors carry the connection-lost flag
    int32_t nativeError = 0x12345678;  // needs more than 16 bits
    int connectAttempts = 0;
    int failConnects = 0;  // the first n connects fail with a server error
    bool connected = false;
    std::function<void(FakeCommand&)> onCreateCommand;

    // A server error as a driver's check routine reports it.
    [[noreturn]] void ServerError(const std::string& step) {
        EndWaitCursor();
        HandleError(ESDFakeError(1, nativeError, "server failed in " + step, lostConnection));
    }
    void Step(const std::string& step) {
        MarkActivity();
        if (failIn.count(step)) ServerError(step);
        if (throwIn.count(step)) throw rtl::Exception("clean-up failed in " + step);
    }

protected:
    void DoConnect(const std::string& remote, const std::string& user, const std::string& password) override {
        log.Add("DoConnect(" + remote + "," + user + "," + password + ")");
        ++connectAttempts;
        connected = true;  // a half-made connection that the clean-up must undo
        if (connectAttempts <= failConnects) ServerError("DoConnect");
        Step("DoConnect");
    }
    void DoDisconnect(bool force) override {
        log.Add(rtl::Format("DoDisconnect(%s)", force ? "true" : "false"));
        Step("DoDisconnect");
        connected = false;
    }
    void DoCommit() override {
        log.Add("DoCommit");
        Step("DoCommit");
    }
    void DoRollback() override {
        log.Add("DoRollback");
        Step("DoRollback");
    }
    void DoStartTransaction() override {
        log.Add("DoStartTransaction");
        Step("DoStartTransaction");
    }

public:
    void* GetHandle() override { return connected ? this : nullptr; }
    void SetAutoCommitOption(bool value) override {
        log.Add(rtl::Format("SetAutoCommitOption(%s)", value ? "true" : "false"));
    }
    void SetTransIsolation(TSDTransIsolation value) override {
        log.Add(rtl::Format("SetTransIsolation(%d)", int(value)));
    }
    TISqlCommandPtr CreateSqlCommand(rtl::Component* owner) override {
        TISqlCommandPtr ptr = MakeSqlCommand<FakeCommand>(this, owner, log);
        if (onCreateCommand) onCreateCommand(static_cast<FakeCommand&>(*ptr));
        return ptr;
    }
    int32_t GetClientVersion() override { return MakeVersionNumber(1, 0); }
    int32_t GetServerVersion() override { return MakeVersionNumber(2, 0); }
    std::string GetVersionString() override { return "Fake 2.0"; }
    bool TestConnected() override { return connected; }
    TISqlCommandPtr GetSchemaInfo(TSDSchemaType kind, const std::string& name) override {
        log.Add(rtl::Format("GetSchemaInfo(%d,%s)", int(kind), name));
        return CreateSqlCommand(nullptr);
    }
};

inline FakeCommand::FakeCommand(FakeDatabase* db, rtl::Component* owner, CallLog& log)
    : TISqlCommand(db, owner), log_(log) {}

inline void FakeCommand::Fail(const std::string& step) {
    if (failIn.count(step)) static_cast<FakeDatabase&>(GetSqlDatabase()).ServerError(step);
}

// Registers fake drivers for the given server types for the lifetime of the object; every
// driver created is recorded in `created`.
class FakeFactories {
public:
    explicit FakeFactories(std::vector<TSDServerType> types = {stODBC}) : types_(std::move(types)) {
        for (TSDServerType t : types_) {
            RegisterSqlDatabaseFactory(t, [this, t](TSDDatabase* owner, const rtl::StringList& params) {
                auto db = std::make_unique<FakeDatabase>(owner, params, t, log);
                if (configure) configure(*db);
                created.push_back(db.get());
                return std::unique_ptr<TISqlDatabase>(std::move(db));
            });
        }
    }
    ~FakeFactories() {
        for (TSDServerType t : types_)
            RegisterSqlDatabaseFactory(t, nullptr);
    }
    FakeFactories(const FakeFactories&) = delete;
    FakeFactories& operator=(const FakeFactories&) = delete;

    CallLog log;
    std::vector<FakeDatabase*> created;
    std::function<void(FakeDatabase&)> configure;

private:
    std::vector<TSDServerType> types_;
};

}  // namespace fake
