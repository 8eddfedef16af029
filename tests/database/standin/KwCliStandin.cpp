// tests/database/standin/KwCliStandin.cpp: a stand-in for the DB2 and Informix call-level
// interfaces, built for the tests only.
//
// Debian has neither vendor's client library. The DB2 and Informix drivers bind the ODBC
// functions by name from their vendor's library, so this small library exports those same
// functions and forwards each call to unixODBC (libodbc.so.2), which reaches a real data
// source (SQLite through its ODBC driver). What it adds is only what the vendors' libraries do
// differently and what the tests must observe:
//   - DB2: the statement attributes 22, 1250 and 1277 are DB2's own and are accepted here;
//     columns whose declared type is a DB2 large-object or graphic type (CLOB, DBCLOB, BLOB,
//     GRAPHIC, VARGRAPHIC, LONG VARGRAPHIC) are described with DB2's type codes, and
//     parameters bound with those codes reach the data source as the ODBC types they stand for.
//   - Informix: a connection text naming PROTOCOL=OLSOCTCP is resolved as the Informix library
//     resolves its SERVER: here the server name is taken as the data source name.
//   - a journal of the calls the tests look at (connects, attributes, parameter bindings,
//     fetches), read with KwStandinJournal;
//   - KwStandinFailRow(n): the next block fetch marks row n (from 0) of the block as failed,
//     with a diagnostic record naming that row, as a data source does when one row of a block
//     cannot be converted. No real driver here produces such rows on demand.
// Built twice: kw_cli_standin exports every function; kw_odbc2_standin (KW_STANDIN_ODBC2)
// exports only the ODBC 2 set, so the drivers' fall-backs to the older calls run for real.
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "database/odbc/SDOdbcApi.h"

using namespace odbcapi;

namespace {

struct Target {
#define KW_STANDIN_TARGET_ENTRY(name, params, args) SQLRETURN(*name) params = nullptr;
    KW_ODBC_ENTRY_POINTS(KW_STANDIN_TARGET_ENTRY)
#undef KW_STANDIN_TARGET_ENTRY
};

struct Diag {
    std::string state;
    std::string message;
    SQLINTEGER native = 0;
    SQLLEN row = -1;
};

struct State {
    std::mutex lock;
    std::string journal;
    int failRow = -1;
    std::map<SQLHSTMT, SQLUSMALLINT*> statusArrays;
    std::map<SQLHSTMT, std::vector<Diag>> diags;
};

State& Shared() {
    static State state;
    return state;
}

const Target& Real() {
    static const Target target = [] {
        Target t;
        const char* name = std::getenv("KW_STANDIN_TARGET");
        void* lib = dlopen(name != nullptr && *name != 0 ? name : "libodbc.so.2", RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) return t;
#define KW_STANDIN_BIND(fn, params, args) t.fn = reinterpret_cast<decltype(t.fn)>(dlsym(lib, #fn));
        KW_ODBC_ENTRY_POINTS(KW_STANDIN_BIND)
#undef KW_STANDIN_BIND
        return t;
    }();
    return target;
}

void Journal(const std::string& line) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    Shared().journal += line + "\n";
}

void ForgetDiags(SQLHSTMT stmt) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    Shared().diags.erase(stmt);
}

// The value of a KEY=value attribute of a connection text ("" when absent).
std::string Attribute(const std::string& text, const std::string& key) {
    std::string upper = text;
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    size_t at = 0;
    while ((at = upper.find(key + "=", at)) != std::string::npos) {
        if (at == 0 || upper[at - 1] == ';') {
            const size_t start = at + key.size() + 1;
            return text.substr(start, text.find(';', start) - start);
        }
        at += key.size();
    }
    return "";
}

SQLSMALLINT Db2TypeOf(std::string typeName) {
    for (char& c : typeName)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    typeName = typeName.substr(0, typeName.find('('));
    while (!typeName.empty() && typeName.back() == ' ')
        typeName.pop_back();
    if (typeName == "CLOB") return -99;
    if (typeName == "DBCLOB") return -350;
    if (typeName == "BLOB") return -98;
    if (typeName == "GRAPHIC") return -95;
    if (typeName == "VARGRAPHIC") return -96;
    if (typeName == "LONG VARGRAPHIC") return -97;
    return 0;
}

SQLSMALLINT OdbcTypeOfDb2(SQLSMALLINT type) {
    switch (type) {
        case -98:
        case -97:
            return SQL_LONGVARBINARY;
        case -99:
        case -350:
            return SQL_LONGVARCHAR;
        case -95:
            return SQL_BINARY;
        case -96:
            return SQL_VARBINARY;
        default:
            return type;
    }
}

}  // namespace

#define KW_EXPORT extern "C" __attribute__((visibility("default")))

// Every function the test does not look at goes straight through.
#define KW_STANDIN_FORWARD(name, params, args)        \
    KW_EXPORT SQLRETURN name params;                  \
    SQLRETURN name params {                           \
        if (Real().name == nullptr) return SQL_ERROR; \
        return Real().name args;                      \
    }

#define KW_STANDIN_SKIP(name, params, args)
// The functions with behaviour of their own are written out below.
#define KW_STANDIN_SELECT(name, params, args) KW_STANDIN_SELECT_##name(name, params, args)
#define KW_STANDIN_SELECT_SQLConnect KW_STANDIN_SKIP
#define KW_STANDIN_SELECT_SQLDriverConnect KW_STANDIN_SKIP
#define KW_STANDIN_SELECT_SQLSetConnectAttr KW_STANDIN_SKIP
#define KW_STANDIN_SELECT_SQLSetConnectOption KW_STANDIN_SKIP
#define KW_STANDIN_SELECT_SQLSetStmtAttr KW_STANDIN_SKIP
#define KW_STANDIN_SELECT_SQLDescribeCol KW_STANDIN_SKIP
#define KW_STANDIN_SELECT_SQLBindParameter KW_STANDIN_SKIP
#define KW_STANDIN_SELECT_SQLFetch KW_STANDIN_SKIP
#define KW_STANDIN_SELECT_SQLGetDiagRec KW_STANDIN_SKIP
#define KW_STANDIN_SELECT_SQLGetDiagField KW_STANDIN_SKIP
#define KW_STANDIN_SELECT_SQLFreeHandle KW_STANDIN_SKIP
#define KW_STANDIN_SELECT_SQLFreeStmt KW_STANDIN_SKIP
#define KW_STANDIN_SELECT_SQLExecute KW_STANDIN_SKIP
#define KW_STANDIN_SELECT_SQLExecDirect KW_STANDIN_SKIP
#define KW_STANDIN_SELECT_SQLAllocConnect KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLAllocEnv KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLAllocHandle KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLAllocStmt KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLBindCol KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLCancel KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLCloseCursor KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLColAttribute KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLColumns KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLCopyDesc KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLDataSources KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLDisconnect KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLEndTran KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLError KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLFetchScroll KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLFreeConnect KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLFreeEnv KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLGetConnectAttr KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLGetConnectOption KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLGetCursorName KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLGetData KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLGetDescField KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLGetDescRec KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLGetEnvAttr KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLGetFunctions KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLGetInfo KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLGetStmtAttr KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLGetStmtOption KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLGetTypeInfo KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLNumResultCols KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLParamData KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLPrepare KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLPutData KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLRowCount KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLSetCursorName KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLSetDescField KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLSetDescRec KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLSetEnvAttr KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLSetParam KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLSetStmtOption KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLSpecialColumns KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLStatistics KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLTables KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLTransact KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLBrowseConnect KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLBulkOperations KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLColAttributes KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLColumnPrivileges KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLDescribeParam KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLExtendedFetch KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLForeignKeys KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLMoreResults KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLNativeSql KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLNumParams KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLParamOptions KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLPrimaryKeys KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLProcedureColumns KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLProcedures KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLSetPos KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLTablePrivileges KW_STANDIN_FORWARD
#define KW_STANDIN_SELECT_SQLDrivers KW_STANDIN_FORWARD

KW_ODBC_ENTRY_POINTS(KW_STANDIN_SELECT)

KW_EXPORT SQLRETURN SQLConnect(SQLHDBC dbc, SQLCHAR* dsn, SQLSMALLINT dsnLen, SQLCHAR* user,
                               SQLSMALLINT userLen, SQLCHAR* pwd, SQLSMALLINT pwdLen) {
    Journal("SQLConnect " + std::string(reinterpret_cast<const char*>(dsn)));
    return Real().SQLConnect(dbc, dsn, dsnLen, user, userLen, pwd, pwdLen);
}

KW_EXPORT SQLRETURN SQLDriverConnect(SQLHDBC dbc, SQLHWND window, SQLCHAR* in, SQLSMALLINT inLen,
                                     SQLCHAR* out, SQLSMALLINT outSize, SQLSMALLINT* outLen,
                                     SQLUSMALLINT completion) {
    std::string text = inLen == SQL_NTS ? std::string(reinterpret_cast<const char*>(in))
                                        : std::string(reinterpret_cast<const char*>(in), size_t(inLen));
    Journal("SQLDriverConnect " + text);
    if (Attribute(text, "PROTOCOL") == "OLSOCTCP") text = "DSN=" + Attribute(text, "SERVER") + ";" + text;
    return Real().SQLDriverConnect(dbc, window, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, out,
                                   outSize, outLen, completion);
}

KW_EXPORT SQLRETURN SQLSetConnectAttr(SQLHDBC dbc, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER length) {
    Journal("SQLSetConnectAttr " + std::to_string(attr) + "=" +
            std::to_string(reinterpret_cast<intptr_t>(value)));
    return Real().SQLSetConnectAttr(dbc, attr, value, length);
}

KW_EXPORT SQLRETURN SQLSetConnectOption(SQLHDBC dbc, SQLUSMALLINT option, SQLULEN value) {
    Journal("SQLSetConnectOption " + std::to_string(option) + "=" + std::to_string(value));
    return Real().SQLSetConnectOption(dbc, option, value);
}

KW_EXPORT SQLRETURN SQLSetStmtAttr(SQLHSTMT stmt, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER length) {
    if (attr == 22 || attr == 1250 || attr == 1277) {
        // DB2's own statement attributes: accepted, as DB2's library accepts them.
        Journal("SQLSetStmtAttr " + std::to_string(attr) + "=" +
                std::to_string(reinterpret_cast<intptr_t>(value)));
        return SQL_SUCCESS;
    }
    if (attr == SQL_ATTR_ROW_STATUS_PTR) {
        std::lock_guard<std::mutex> guard(Shared().lock);
        Shared().statusArrays[stmt] = static_cast<SQLUSMALLINT*>(value);
    }
    if (attr == SQL_ATTR_USE_BOOKMARKS || attr == SQL_ATTR_CURSOR_TYPE)
        Journal("SQLSetStmtAttr " + std::to_string(attr) + "=" +
                std::to_string(reinterpret_cast<intptr_t>(value)));
    return Real().SQLSetStmtAttr(stmt, attr, value, length);
}

KW_EXPORT SQLRETURN SQLDescribeCol(SQLHSTMT stmt, SQLUSMALLINT col, SQLCHAR* name, SQLSMALLINT nameSize,
                                   SQLSMALLINT* nameLen, SQLSMALLINT* type, SQLULEN* size,
                                   SQLSMALLINT* digits, SQLSMALLINT* nullable) {
    const SQLRETURN rc =
        Real().SQLDescribeCol(stmt, col, name, nameSize, nameLen, type, size, digits, nullable);
    if ((rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) && type != nullptr &&
        Real().SQLColAttribute != nullptr) {
        char typeName[128] = {};
        SQLSMALLINT length = 0;
        constexpr SQLUSMALLINT kTypeName = 14;  // SQL_DESC_TYPE_NAME
        if (Real().SQLColAttribute(stmt, col, kTypeName, typeName, sizeof typeName, &length, nullptr) ==
            SQL_SUCCESS) {
            const SQLSMALLINT db2 = Db2TypeOf(typeName);
            if (db2 != 0) *type = db2;
        }
    }
    return rc;
}

KW_EXPORT SQLRETURN SQLBindParameter(SQLHSTMT stmt, SQLUSMALLINT param, SQLSMALLINT io, SQLSMALLINT ctype,
                                     SQLSMALLINT sqltype, SQLULEN size, SQLSMALLINT digits, SQLPOINTER value,
                                     SQLLEN bufferSize, SQLLEN* ind) {
    Journal("SQLBindParameter " + std::to_string(param) + " io=" + std::to_string(io) + " c=" +
            std::to_string(ctype) + " sql=" + std::to_string(sqltype) + " size=" + std::to_string(size));
    return Real().SQLBindParameter(stmt, param, io, ctype, OdbcTypeOfDb2(sqltype), size, digits, value,
                                   bufferSize, ind);
}

KW_EXPORT SQLRETURN SQLFetch(SQLHSTMT stmt) {
    ForgetDiags(stmt);
    Journal("SQLFetch");
    SQLRETURN rc = Real().SQLFetch(stmt);
    std::lock_guard<std::mutex> guard(Shared().lock);
    State& s = Shared();
    const auto array = s.statusArrays.find(stmt);
    if (s.failRow >= 0 && (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) &&
        array != s.statusArrays.end() && array->second != nullptr) {
        array->second[s.failRow] = SQL_ROW_ERROR;
        s.diags[stmt] = {{"01S01", "Error in row", 0, -1},
                         {"22003", "Numeric value out of range (stand-in)", 70000, SQLLEN(s.failRow + 1)}};
        s.failRow = -1;
        rc = SQL_SUCCESS_WITH_INFO;
    }
    return rc;
}

KW_EXPORT SQLRETURN SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT rec, SQLCHAR* state,
                                  SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT size, SQLSMALLINT* length) {
    {
        std::lock_guard<std::mutex> guard(Shared().lock);
        const auto found = type == SQL_HANDLE_STMT ? Shared().diags.find(handle) : Shared().diags.end();
        if (found != Shared().diags.end()) {
            if (rec < 1 || size_t(rec) > found->second.size()) return SQL_NO_DATA;
            const Diag& d = found->second[size_t(rec - 1)];
            std::memcpy(state, d.state.c_str(), 6);
            *native = d.native;
            std::strncpy(reinterpret_cast<char*>(text), d.message.c_str(), size_t(size));
            if (length != nullptr) *length = SQLSMALLINT(d.message.size());
            return SQL_SUCCESS;
        }
    }
    return Real().SQLGetDiagRec(type, handle, rec, state, native, text, size, length);
}

KW_EXPORT SQLRETURN SQLGetDiagField(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT rec, SQLSMALLINT field,
                                    SQLPOINTER value, SQLSMALLINT size, SQLSMALLINT* length) {
    {
        std::lock_guard<std::mutex> guard(Shared().lock);
        const auto found = type == SQL_HANDLE_STMT ? Shared().diags.find(handle) : Shared().diags.end();
        if (found != Shared().diags.end() && field == SQL_DIAG_ROW_NUMBER) {
            if (rec < 1 || size_t(rec) > found->second.size()) return SQL_NO_DATA;
            *static_cast<SQLLEN*>(value) = found->second[size_t(rec - 1)].row;
            return SQL_SUCCESS;
        }
    }
    return Real().SQLGetDiagField(type, handle, rec, field, value, size, length);
}

KW_EXPORT SQLRETURN SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
    if (type == SQL_HANDLE_STMT) {
        std::lock_guard<std::mutex> guard(Shared().lock);
        Shared().statusArrays.erase(handle);
        Shared().diags.erase(handle);
    }
    return Real().SQLFreeHandle(type, handle);
}

KW_EXPORT SQLRETURN SQLFreeStmt(SQLHSTMT stmt, SQLUSMALLINT option) {
    {
        std::lock_guard<std::mutex> guard(Shared().lock);
        Shared().diags.erase(stmt);
        if (option == SQL_DROP) Shared().statusArrays.erase(stmt);
    }
    return Real().SQLFreeStmt(stmt, option);
}

KW_EXPORT SQLRETURN SQLExecute(SQLHSTMT stmt) {
    ForgetDiags(stmt);
    return Real().SQLExecute(stmt);
}

KW_EXPORT SQLRETURN SQLExecDirect(SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length) {
    ForgetDiags(stmt);
    return Real().SQLExecDirect(stmt, text, length);
}

// Test hooks.
KW_EXPORT const char* KwStandinJournal() {
    static thread_local std::string copy;
    std::lock_guard<std::mutex> guard(Shared().lock);
    copy = Shared().journal;
    return copy.c_str();
}

KW_EXPORT void KwStandinClearJournal() {
    std::lock_guard<std::mutex> guard(Shared().lock);
    Shared().journal.clear();
}

KW_EXPORT void KwStandinFailRow(int row) {
    std::lock_guard<std::mutex> guard(Shared().lock);
    Shared().failRow = row;
}
