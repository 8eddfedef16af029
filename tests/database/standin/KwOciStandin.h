// tests/database/standin/KwOciStandin.h: the inside of the Oracle client stand-in (tests only).
//
// The stand-in is a shared library that exports the OCI 8 and OCI 7 entry points the Oracle
// driver binds (database/oracle/SDOraApi.h) and answers them over a SQLite file: the remote database
// text names the file. It keeps the interface's statuses, attribute numbers and buffer
// contracts; what it does not implement answers an error status.
//
// This header is shared by its three files: KwOciStandinCore.cpp (connections, statements,
// the Oracle SQL the driver sends mapped onto SQLite, values, LOBs, the stored procedures of
// its own), KwOci8Standin.cpp (the handle-based calls) and KwOci7Standin.cpp (the OCI 7
// calls). Everything runs under one re-entrant lock, since the driver's call-backs call back
// into the library from inside a call.
//
// What the stand-in maps (so that the driver runs unchanged): DUAL (with a SESSIONTIMEZONE
// column), PRODUCT_COMPONENT_VERSION (its version text set by the test), SYS.ALL_OBJECTS,
// ALL_TAB_COLUMNS, ALL_INDEXES, ALL_IND_COLUMNS, ALL_CONSTRAINTS, ALL_CONS_COLUMNS (filled
// from SQLite's catalog when a statement names them), DECODE, NVL, empty_blob(), empty_clob(),
// "set transaction", a text bound empty stored as NULL, "INSERT/UPDATE ... RETURNING cols INTO :n" (the rows'
// LOB locators are handed to the bind call-backs), the type names "INTERVAL DAY TO SECOND" and "INTERVAL YEAR
// TO MONTH", and PL/SQL call blocks "begin [:r := ] NAME[(A => :A, ...)]; end;" for the routines of its own
// (KW_ADD, KW_ECHO, KW_DOUBLE, KW_PKG.OPEN_NUMBERS, KW_PKG.NAME_OF, KW_DOC_LEN, KW_GET_DOC, KW_PUT_LONG,
// KW_NOARGS, KW_ODD_MODE, KW_ODD_TYPE).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "database/oracle/SDOraApi.h"
#include "database/standin/KwSqliteStandin.h"

namespace kwoci {

using namespace ociapi;
using kwstandin::Row;
using kwstandin::Value;

#define KW_EXPORT extern "C" __attribute__((visibility("default")))

inline constexpr uint32_t kMagic = 0x4B574F43;

// An Oracle error raised inside the stand-in.
struct OraError {
    int Code;
    std::string Message;
    int ParseOffset = -1;
};
[[noreturn]] void Throw(int code, const std::string& detail);

// Every handle and descriptor the stand-in gives out.
struct Object {
    uint32_t Magic = kMagic;
    ub4 Kind = 0;
    Object* Parent = nullptr;  // the environment it was made on (none for an environment)
    // Leaves the registries (handles the caller frees, and the parts a handle owns).
    virtual ~Object();
};

struct ErrorRecord {
    int Code = 0;
    std::string Message;
    int ParseOffset = -1;
    void Set(const OraError& e) {
        Code = e.Code;
        Message = e.Message;
        ParseOffset = e.ParseOffset;
    }
};

struct ErrorHandle : Object {
    ErrorRecord Record;
};

// One server connection: a SQLite file.
struct Connection {
    sqlite3* Db = nullptr;
    std::string Path;
    std::string User;
    std::string TimeZone = "+00:00";
    bool Broken = false;
    int BrokenCode = 0;
    bool InTransaction = false;
    bool ReadOnly = false;
    bool AutoCommit = false;  // OCI 7: commit after every statement
    bool SessionBegun = false;
    uint64_t TransactionSerial = 0;  // counts commits and rollbacks: a row's locator lives in one
    int LastCode = 0;  // OCI 7: the last error of the connection, for oerhms
    std::string LastMessage;
    ~Connection();
};

struct Column {
    std::string Name;
    ub2 Type = SQLT_CHR;
    ub2 Size = 0;
    ub2 DisplaySize = 0;
    ub1 Precision = 0;
    sb1 Scale = 0;
    bool Nullable = true;
    bool PadChar = false;  // CHAR(n): values are blank-padded to Size
};

// A describe parameter: a column, a routine, an argument, or a list of them.
struct Param : Object {
    std::string Name;
    ub2 DataType = 0;
    ub2 DataSize = 0;
    ub2 DisplaySize = 0;
    ub1 Precision = 0;
    sb1 Scale = 0;
    ub1 Nullable = 1;
    ub1 PType = 0;
    ub4 IoMode = 0;
    bool IsList = false;
    bool ListFromZero = true;  // an argument list of a procedure starts at position 1
    std::vector<Param*> Items;
    Param* Arguments = nullptr;
    Param* Subprograms = nullptr;
};

struct BindSlot : Object {
    std::string Name;  // upper-cased, without the colon
    void* ValuePtr = nullptr;
    sb4 Size = 0;
    ub2 Dty = 0;
    void* Indicator = nullptr;
    ub2* Length = nullptr;
    bool AtExecution = false;
    OCICallbackInBind InCallback = nullptr;
    void* InContext = nullptr;
    OCICallbackOutBind OutCallback = nullptr;
    void* OutContext = nullptr;
    bool PieceGiven = false;
    std::string Piece;
    bool PieceNull = false;
    ub4 RowsReturned = 0;
};

struct DefineSlot : Object {
    ub4 Position = 0;
    void* ValuePtr = nullptr;
    sb4 Size = 0;
    ub2 Dty = 0;
    void* Indicator = nullptr;
    ub2* Length = nullptr;
    bool Dynamic = false;
    OCICallbackDefine Callback = nullptr;
    void* Context = nullptr;
};

// A parsed call block.
struct CallBlock {
    std::string Routine;
    std::string ResultHolder;  // "" for a procedure
    std::vector<std::pair<std::string, std::string>> Args;  // argument name, holder
};

enum class Action { None, Sql, SetTransaction, Call };

struct Statement : Object {
    Connection* Conn = nullptr;
    std::string Text;
    std::string Sql;  // the text for SQLite
    ub2 Type = 0;
    Action What = Action::None;
    CallBlock Call;
    std::string Table;  // the target of an INSERT or UPDATE
    std::vector<std::string> ReturningColumns;
    std::vector<std::string> ReturningHolders;
    std::vector<std::unique_ptr<BindSlot>> Binds;
    std::map<ub4, std::unique_ptr<DefineSlot>> Defines;
    std::vector<Column> Columns;
    std::vector<std::unique_ptr<Param>> ColumnParams;
    std::vector<Row> Rows;
    size_t Next = 0;
    const Row* Current = nullptr;
    bool Executed = false;
    ub4 RowCount = 0;
    int ParseOffset = -1;
    ub4 Prefetch = 0;
    int Oci7Id = 0;  // OCI 7 cursors: the id written into the cursor data area

    BindSlot* FindBind(const std::string& name);
};

struct Lob : Object {
    Connection* Conn = nullptr;
    bool File = false;
    bool Temporary = false;
    bool Empty = true;
    std::string Data;
    // A locator of a stored row: reads and writes go to the row.
    std::string Table;
    std::string ColumnName;
    int64_t RowId = 0;
    bool OfRow = false;
    uint64_t Serial = 0;  // the transaction that returned the row's locator
    std::string Path;  // a file locator's file
    bool Open = false;
};

struct DateTime : Object {
    kwstandin::DateTimeParts Parts;
};

struct Interval : Object {
    sb4 Years = 0, Months = 0, Days = 0, Hours = 0, Minutes = 0, Seconds = 0, Nanoseconds = 0;
};

struct Env : Object {};
struct Server : Object {
    std::unique_ptr<Connection> Conn;
};
struct Session : Object {
    std::string User;
    std::string Password;
    Server* Srv = nullptr;
};
struct SvcCtx : Object {
    Server* Srv = nullptr;
    Session* Sess = nullptr;
    Connection* Conn() const { return Srv != nullptr ? Srv->Conn.get() : nullptr; }
};
struct Describe : Object {
    std::vector<std::unique_ptr<Param>> Owned;
    Param* Top = nullptr;
};

struct Account {
    std::string Password;
    bool Expired = false;
};

// The library's state, one per process.
struct Global {
    ~Global();
    std::recursive_mutex Lock;
    kwstandin::Journal Journal;
    kwstandin::FailureSwitch Failures;
    std::map<std::string, int> StatusOverrides;  // call name -> raw status to answer
    std::set<Object*> Live;   // handles and descriptors the caller frees
    std::set<Object*> Owned;  // binds, defines, parameters: freed with their owner
    std::string ServerVersion = "10.2.0.1.0";
    std::string TimeZone = "+00:00";
    std::map<std::string, Account> Accounts;  // upper-cased user
    int ForcedLongPiece = -1;
    std::map<int, std::unique_ptr<Statement>> Oci7Cursors;
    std::map<int, std::unique_ptr<Connection>> Oci7Connections;
    int NextOci7Id = 1;
};
Global& G();

// Objects.
template <typename T>
T* Make(ub4 kind, Object* env) {
    auto* o = new T();
    o->Kind = kind;
    o->Parent = env;
    G().Live.insert(o);
    return o;
}
// A part owned by a handle (a unique_ptr of its owner frees it).
template <typename T>
std::unique_ptr<T> MakeOwned(ub4 kind) {
    auto o = std::make_unique<T>();
    o->Kind = kind;
    G().Owned.insert(o.get());
    return o;
}
bool IsLive(const void* p);
void Destroy(Object* o);
template <typename T>
T* As(const void* p, ub4 kind) {
    if (!IsLive(p)) return nullptr;
    auto* o = static_cast<Object*>(const_cast<void*>(p));
    return o->Kind == kind ? static_cast<T*>(o) : nullptr;
}

// Connections.
std::unique_ptr<Connection> OpenConnection(const std::string& path);
// Whether the call must fail (an armed failure, a broken connection); fills the error.
bool InjectedFailure(const char* call, Connection* conn, OraError& error);
// A raw status armed for the call, or 0.
int StatusOverride(const char* call);
void BeginSession(Connection& conn, const std::string& user);
void Commit(Connection& conn);
void Rollback(Connection& conn);

// Statements.
void PrepareStatement(Statement& stmt, const std::string& text);
// Runs the statement (binds read, rows kept). Answers OCI_NEED_DATA when a value at execution
// is missing; raises OraError otherwise.
sword ExecuteStatement(Statement& stmt, bool describeOnly, bool commitOnSuccess);
// The next row into the defines; false at the end. Raises OraError on a conversion failure.
bool FetchRow(Statement& stmt, bool& truncated);
// The column value of the current row (1-based).
const Value& CurrentValue(const Statement& stmt, ub4 position);
// The value of a bind as SQLite takes it.
Value BindValue(BindSlot& bind);
// A value into a caller's buffer of the given external type; true when it was cut.
bool StoreValue(const Value& value, const Column* column, ub2 dty, void* buffer, sb4 size, void* indicator,
                ub2* length, Connection* conn);
// The first bind at execution still waiting for its value, or nullptr.
BindSlot* PendingPiece(Statement& stmt);

// LOBs.
std::string LobBytes(Lob& lob);
void LobWrite(Lob& lob, ub4 offset, const std::string& bytes);

// Routines (describe).
struct RoutineArg {
    std::string Name;
    ub2 Type;
    ub4 Mode;
    ub1 Precision = 0;
    sb1 Scale = 0;
};
struct Routine {
    std::string Package;
    std::string Name;
    bool Function = false;
    ub2 ReturnType = 0;
    std::vector<RoutineArg> Args;
};
const std::vector<Routine>& Routines();
// The routine a name stands for ("KW_ADD", "OWNER.KW_ADD", "KW_PKG.NAME_OF", ...), nullptr
// when none.
const Routine* FindRoutine(const std::string& name, const std::string& user);
bool IsPackageName(const std::string& name, const std::string& user);

void Journal(const std::string& line);
std::string Hex(const void* p);
std::string Num(long long value);
// The caller's text: a length below 0 means one ended by a zero byte.
std::string TextOf(const OraText* text, long length);
// Whether the statement names the marker (a whole ":name" outside quotes).
bool HasMarker(const std::string& text, const std::string& name);

}  // namespace kwoci
