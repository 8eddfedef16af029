// tests/database/standin/KwOleDbStandin.h: the inside of the OLE DB stand-in provider (tests
// only).
//
// The stand-in is a shared library that the COM-style runtime's data-link object loads as a
// provider (database/drivers/ComRuntime.h): it exports DllGetClassObject and
// ComAttachServices, and answers the OLE DB interfaces the driver uses over a SQLite file (the
// DATA SOURCE property; a folder there with INITIAL CATALOG names <folder>/<catalog>.db). Its
// objects: the data source (IDBInitialize, IDBProperties, IDBCreateSession), the session
// (IDBCreateCommand, ITransactionLocal, IGetDataSource, IDBSchemaRowset with the five schema
// rowsets), the command (ICommandText, ICommandPrepare, ICommandProperties,
// ICommandWithParameters, IAccessor, IColumnsInfo), the rowset (IRowset, IAccessor,
// IColumnsInfo), the multiple results, the stream (ISequentialStream) and the error objects
// (IErrorInfo, IErrorRecords, ISQLErrorInfo, ISQLServerErrorInfo).
//
// Identities (the provider-string key "KW IDENTITY", else the test's default): "generic" (a
// SQLite provider: markers, outputs at execution), "sqlserver" (answers as SQL Server's provider:
// its name, property sets, error information, outputs at row release) and "foxpro" (FoxPro's
// name and no parameter markers: a statement holding "?" is refused at execution).
//
// The stand-in's procedures, called as "{CALL name(?, ...)}" or "{?=CALL name(...)}":
// KW_ADD(@A, @B, @SUM output) and the function KW_SQUARES_WITH_TOTAL(@N, @TOTAL output) giving
// N as its result value and two rowsets (I with I*I for I = 1..N; then COUNT = N); KW_NOTHING
// takes and gives nothing.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "database/drivers/OleDbApi.h"
#include "database/standin/KwSqliteStandin.h"

namespace kwoledb {

using namespace com;
using namespace oledb;
using kwstandin::Row;
using kwstandin::Value;

#define KW_EXPORT extern "C" __attribute__((visibility("default")))

enum class Identity { Generic, SqlServer, FoxPro };

// One error record of a failure.
struct ErrorRecord {
    HRESULT Result = E_FAIL;
    std::string Description;
    std::string SqlState;
    int32_t Native = 0;
    uint16_t Line = 0;
};

// A failure a call answers: its result and records (first record first).
struct Failure {
    HRESULT Result = E_FAIL;
    std::vector<ErrorRecord> Records;
};
[[noreturn]] void Throw(HRESULT hr, const std::string& description, const std::string& sqlState = "HY000",
                        int32_t native = 0, uint16_t line = 0);

struct Global {
    std::recursive_mutex Lock;
    const TComServices* Services = nullptr;
    kwstandin::Journal Journal;
    std::atomic<int> Live{0};
    std::atomic<int> OutstandingRows{0};
    Identity DefaultIdentity = Identity::Generic;
    // Controls.
    struct FailRule {
        HRESULT Result;
        int32_t Native;
        int Count;
    };
    std::map<std::string, FailRule> Failures;
    bool UnknownLengths = false;
    int ShortReads = 0;
    std::vector<DBPROPID> RefusedProperties;
    int32_t SqlSupport = -1;  // the foxpro identity's answer; -1: its own default
    bool IgnoreTypeRestriction = false;
};
Global& G();
void Log(const std::string& line);

// Every object the provider hands out: counted, gone with its last Release.
class TObject {
public:
    TObject() { ++G().Live; }
    virtual ~TObject() { --G().Live; }
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;

protected:
    ULONG DoAddRef() { return ++refs_; }
    ULONG DoRelease() {
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

private:
    std::atomic<ULONG> refs_{1};
};

#define KW_OLEDB_REFCOUNT      \
    ULONG AddRef() override {  \
        return DoAddRef();     \
    }                          \
    ULONG Release() override { \
        return DoRelease();    \
    }

// A GUID as braced upper-case text, and back (false when the text is none).
std::string GuidText(const GUID& g);
bool GuidFromText(const std::string& text, uint8_t bytes[16]);

// The runtime's services, as the data-link object handed them over.
BSTR AllocText(const std::string& text);
void* AllocMem(size_t size);
void FreeMem(void* p);
std::string Text(const OLECHAR* text);

// A column of a result.
struct Column {
    std::string Name;
    DBTYPE Type = DBTYPE_STR;
    DBLENGTH Size = 0;
    DBCOLUMNFLAGS Flags = DBCOLUMNFLAGS_ISNULLABLE | DBCOLUMNFLAGS_MAYBENULL;
    uint8_t Precision = 0;
    uint8_t Scale = 0;
    bool Fixed = false;  // CHAR(n): values are blank-padded to Size
};

struct Result {
    std::vector<Column> Columns;
    std::vector<Row> Rows;
};

// Output values pending delivery into the consumer's parameter buffer.
struct PendingOutputs {
    void* Data = nullptr;
    std::vector<DBBINDING> Bindings;    // the output bindings
    std::map<DBORDINAL, Value> Values;  // by ordinal
    bool Delivered = false;
    void Deliver();
};

// The database behind a data source.
struct Database {
    sqlite3* Db = nullptr;
    std::string Path;
    std::string Catalog;
    Identity Who = Identity::Generic;
    bool Broken = false;
    int32_t BrokenNative = 0;
    ~Database();
};

// SQLite side (KwOleDbStandinData.cpp).
std::shared_ptr<Database> OpenDatabase(const std::string& path, Identity who);
// Runs a statement with its parameters (by position); the result when it has columns, the
// rows it changed.
Result RunStatement(Database& db, const std::string& sql, const std::vector<Value>& params,
                    DBROWCOUNT& affected);
// The columns a statement would give, without running it (the first row's types for columns
// without a declared type).
std::vector<Column> DescribeStatement(Database& db, const std::string& sql);
// "{[?=]CALL name[(?, ...)]}": the name and the count of markers (the result's included).
bool ParseCall(const std::string& text, std::string& name, int& markers, bool& result);
// The stand-in's procedures: their results and outputs (by ordinal) from the inputs (by
// ordinal).
std::vector<Result> RunProcedure(const std::string& name, const std::map<DBORDINAL, Value>& inputs,
                                 std::map<DBORDINAL, Value>& outputs);
// A schema rowset; Failure for an unknown schema.
Result SchemaRows(Database& db, const GUID& schema, const std::vector<std::string>& restrictions);
// Whether a statement holds "?" outside its literals.
bool HasMarkers(const std::string& sql);

// Value conversions between the bound types and SQLite values.
// Reads a bound value from the consumer's buffer (status, length, value); NULL for a null
// status. Failure DB_E_BADBINDINFO for a type the stand-in does not take.
Value ReadBound(const DBBINDING& b, const uint8_t* data);
// Writes a value into the consumer's buffer by its binding; the status written.
DBSTATUS WriteBound(const DBBINDING& b, uint8_t* data, const Value& v, const Column* column);

}  // namespace kwoledb
