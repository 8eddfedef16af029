// database/odbc/SDOdbcApi.h: the ODBC call-level interface as the SQL library's ODBC, DB2 and
// Informix drivers bind it (part of unit SDOdbc).
//
// The drivers never link against a client library: they load the ODBC driver manager (or a
// vendor's call-level-interface library, which offers the same functions under the same
// names) by file name at run time and take each entry point by name. This header declares the
// few ODBC types and constants the drivers use, in namespace odbcapi, with the sizes of the
// LP64 driver managers (unixODBC, iODBC): handles are pointers, SQLINTEGER is 32 bits, SQLLEN
// and SQLULEN are 64 bits. Do not include the platform's sql.h in the same translation unit:
// its macros carry the same names.
//
// It also holds the bound function table (TOdbcFunctions) and the library state that each of
// the three driver units keeps once per process (TOdbcClientLibrary): the file name or list,
// the module, a load count and a lock. What must stay true: the table is filled and cleared
// only under the library's lock, while the count goes from 0 to 1 or from 1 to 0; readers use
// the bound pointers without locking, which is safe because a connection holds a count for
// as long as it may call them.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "database/engine/SDCommonLibrary.h"
#include "rtl/StringList.h"

namespace odbcapi {

using SQLCHAR = unsigned char;
using SQLSMALLINT = int16_t;
using SQLUSMALLINT = uint16_t;
using SQLINTEGER = int32_t;
using SQLUINTEGER = uint32_t;
using SQLLEN = int64_t;
using SQLULEN = uint64_t;
using SQLRETURN = SQLSMALLINT;
using SQLPOINTER = void*;
using SQLHANDLE = void*;
using SQLHENV = SQLHANDLE;
using SQLHDBC = SQLHANDLE;
using SQLHSTMT = SQLHANDLE;
using SQLHDESC = SQLHANDLE;
using SQLHWND = void*;
using SQLSETPOSIROW = SQLULEN;

static_assert(sizeof(void*) == 8, "the ODBC declarations here follow the LP64 driver managers");

// Return codes.
inline constexpr SQLRETURN SQL_SUCCESS = 0;
inline constexpr SQLRETURN SQL_SUCCESS_WITH_INFO = 1;
inline constexpr SQLRETURN SQL_STILL_EXECUTING = 2;
inline constexpr SQLRETURN SQL_NEED_DATA = 99;
inline constexpr SQLRETURN SQL_NO_DATA = 100;
inline constexpr SQLRETURN SQL_ERROR = -1;
inline constexpr SQLRETURN SQL_INVALID_HANDLE = -2;

// Lengths and indicators.
inline constexpr SQLINTEGER SQL_NTS = -3;
inline constexpr SQLLEN SQL_NULL_DATA = -1;
inline constexpr SQLLEN SQL_DATA_AT_EXEC = -2;
inline constexpr SQLLEN SQL_NO_TOTAL = -4;
inline constexpr SQLLEN SQL_LEN_DATA_AT_EXEC_OFFSET = -100;
inline constexpr SQLINTEGER SQL_IS_UINTEGER = -5;
inline constexpr SQLINTEGER SQL_IS_INTEGER = -6;

// Handle types.
inline constexpr SQLSMALLINT SQL_HANDLE_ENV = 1;
inline constexpr SQLSMALLINT SQL_HANDLE_DBC = 2;
inline constexpr SQLSMALLINT SQL_HANDLE_STMT = 3;

// SQLFreeStmt options.
inline constexpr SQLUSMALLINT SQL_CLOSE = 0;
inline constexpr SQLUSMALLINT SQL_DROP = 1;
inline constexpr SQLUSMALLINT SQL_UNBIND = 2;

// SQLEndTran / SQLTransact.
inline constexpr SQLSMALLINT SQL_COMMIT = 0;
inline constexpr SQLSMALLINT SQL_ROLLBACK = 1;

// SQLGetInfo types.
inline constexpr SQLUSMALLINT SQL_DRIVER_VER = 7;
inline constexpr SQLUSMALLINT SQL_DBMS_NAME = 17;
inline constexpr SQLUSMALLINT SQL_DBMS_VER = 18;
inline constexpr SQLUSMALLINT SQL_CURSOR_COMMIT_BEHAVIOR = 23;
inline constexpr SQLUSMALLINT SQL_CURSOR_ROLLBACK_BEHAVIOR = 24;
inline constexpr SQLUSMALLINT SQL_TXN_CAPABLE = 46;
inline constexpr SQLUSMALLINT SQL_DRIVER_ODBC_VER = 77;
inline constexpr SQLUSMALLINT SQL_NEED_LONG_DATA_LEN = 111;
inline constexpr SQLUSMALLINT SQL_CB_PRESERVE = 2;

// Environment, connection and statement attributes.
inline constexpr SQLINTEGER SQL_ATTR_ODBC_VERSION = 200;
inline constexpr SQLINTEGER SQL_OV_ODBC3 = 3;
inline constexpr SQLINTEGER SQL_ATTR_AUTOCOMMIT = 102;
inline constexpr SQLINTEGER SQL_ATTR_CONNECTION_DEAD = 1209;
inline constexpr SQLUINTEGER SQL_CD_TRUE = 1;
inline constexpr SQLINTEGER SQL_ATTR_LOGIN_TIMEOUT = 103;
inline constexpr SQLINTEGER SQL_ATTR_TXN_ISOLATION = 108;
inline constexpr SQLINTEGER SQL_ATTR_CONNECTION_TIMEOUT = 113;
inline constexpr SQLINTEGER SQL_TXN_READ_UNCOMMITTED = 1;
inline constexpr SQLINTEGER SQL_TXN_READ_COMMITTED = 2;
inline constexpr SQLINTEGER SQL_TXN_REPEATABLE_READ = 4;
inline constexpr SQLINTEGER SQL_TXN_SERIALIZABLE = 8;
inline constexpr SQLINTEGER SQL_ATTR_QUERY_TIMEOUT = 0;
inline constexpr SQLINTEGER SQL_ATTR_MAX_ROWS = 1;
inline constexpr SQLINTEGER SQL_ATTR_ROW_BIND_TYPE = 5;
inline constexpr SQLINTEGER SQL_ATTR_CURSOR_TYPE = 6;
inline constexpr SQLINTEGER SQL_ATTR_USE_BOOKMARKS = 12;
inline constexpr SQLINTEGER SQL_ATTR_ROW_STATUS_PTR = 25;
inline constexpr SQLINTEGER SQL_ATTR_ROWS_FETCHED_PTR = 26;
inline constexpr SQLINTEGER SQL_ATTR_ROW_ARRAY_SIZE = 27;
inline constexpr SQLULEN SQL_CURSOR_FORWARD_ONLY = 0;
inline constexpr SQLULEN SQL_CURSOR_STATIC = 3;
inline constexpr SQLULEN SQL_BIND_BY_COLUMN = 0;

inline constexpr SQLUSMALLINT SQL_API_SQLSETCONNECTATTR = 1016;
inline constexpr SQLSMALLINT SQL_DIAG_DYNAMIC_FUNCTION_CODE = 12;
inline constexpr SQLSMALLINT SQL_DIAG_ROW_NUMBER = -1248;
inline constexpr SQLINTEGER SQL_DIAG_CALL = 7;
inline constexpr SQLUSMALLINT SQL_DESC_AUTO_UNIQUE_VALUE = 11;
inline constexpr SQLUSMALLINT SQL_DRIVER_NOPROMPT = 0;

// Row statuses of a block fetch.
inline constexpr SQLUSMALLINT SQL_ROW_SUCCESS = 0;
inline constexpr SQLUSMALLINT SQL_ROW_DELETED = 1;
inline constexpr SQLUSMALLINT SQL_ROW_UPDATED = 2;
inline constexpr SQLUSMALLINT SQL_ROW_NOROW = 3;
inline constexpr SQLUSMALLINT SQL_ROW_ADDED = 4;
inline constexpr SQLUSMALLINT SQL_ROW_ERROR = 5;
inline constexpr SQLUSMALLINT SQL_ROW_SUCCESS_WITH_INFO = 6;

// Parameter directions.
inline constexpr SQLSMALLINT SQL_PARAM_TYPE_UNKNOWN = 0;
inline constexpr SQLSMALLINT SQL_PARAM_INPUT = 1;
inline constexpr SQLSMALLINT SQL_PARAM_INPUT_OUTPUT = 2;
inline constexpr SQLSMALLINT SQL_PARAM_OUTPUT = 4;

// SQLStatistics.
inline constexpr SQLUSMALLINT SQL_INDEX_ALL = 1;
inline constexpr SQLUSMALLINT SQL_QUICK = 0;

// SQL data types.
inline constexpr SQLSMALLINT SQL_UNKNOWN_TYPE = 0;
inline constexpr SQLSMALLINT SQL_CHAR = 1;
inline constexpr SQLSMALLINT SQL_NUMERIC = 2;
inline constexpr SQLSMALLINT SQL_DECIMAL = 3;
inline constexpr SQLSMALLINT SQL_INTEGER = 4;
inline constexpr SQLSMALLINT SQL_SMALLINT = 5;
inline constexpr SQLSMALLINT SQL_FLOAT = 6;
inline constexpr SQLSMALLINT SQL_REAL = 7;
inline constexpr SQLSMALLINT SQL_DOUBLE = 8;
inline constexpr SQLSMALLINT SQL_DATE = 9;
inline constexpr SQLSMALLINT SQL_TIME = 10;
inline constexpr SQLSMALLINT SQL_TIMESTAMP = 11;
inline constexpr SQLSMALLINT SQL_VARCHAR = 12;
inline constexpr SQLSMALLINT SQL_TYPE_DATE = 91;
inline constexpr SQLSMALLINT SQL_TYPE_TIME = 92;
inline constexpr SQLSMALLINT SQL_TYPE_TIMESTAMP = 93;
inline constexpr SQLSMALLINT SQL_LONGVARCHAR = -1;
inline constexpr SQLSMALLINT SQL_BINARY = -2;
inline constexpr SQLSMALLINT SQL_VARBINARY = -3;
inline constexpr SQLSMALLINT SQL_LONGVARBINARY = -4;
inline constexpr SQLSMALLINT SQL_BIGINT = -5;
inline constexpr SQLSMALLINT SQL_TINYINT = -6;
inline constexpr SQLSMALLINT SQL_BIT = -7;
inline constexpr SQLSMALLINT SQL_WCHAR = -8;
inline constexpr SQLSMALLINT SQL_WVARCHAR = -9;
inline constexpr SQLSMALLINT SQL_WLONGVARCHAR = -10;
inline constexpr SQLSMALLINT SQL_GUID = -11;
// Intervals: 101 to 113; 101 to 106 are single-field ones, 107 year-to-month, 108 to 113
// the day-to-second family.
inline constexpr SQLSMALLINT SQL_INTERVAL_YEAR = 101;
inline constexpr SQLSMALLINT SQL_INTERVAL_YEAR_TO_MONTH = 107;
inline constexpr SQLSMALLINT SQL_INTERVAL_MINUTE_TO_SECOND = 113;

// C data types.
inline constexpr SQLSMALLINT SQL_C_CHAR = 1;
inline constexpr SQLSMALLINT SQL_C_LONG = 4;
inline constexpr SQLSMALLINT SQL_C_SHORT = 5;
inline constexpr SQLSMALLINT SQL_C_DOUBLE = 8;
inline constexpr SQLSMALLINT SQL_C_DATE = 9;
inline constexpr SQLSMALLINT SQL_C_TIME = 10;
inline constexpr SQLSMALLINT SQL_C_TIMESTAMP = 11;
inline constexpr SQLSMALLINT SQL_C_TYPE_DATE = 91;
inline constexpr SQLSMALLINT SQL_C_TYPE_TIME = 92;
inline constexpr SQLSMALLINT SQL_C_TYPE_TIMESTAMP = 93;
inline constexpr SQLSMALLINT SQL_C_BINARY = -2;
inline constexpr SQLSMALLINT SQL_C_SBIGINT = -25;
inline constexpr SQLSMALLINT SQL_C_GUID = -11;

// Native layouts written by the client library (offsets in bytes).
//   SQL_DATE_STRUCT      year int16 @0, month uint16 @2, day uint16 @4                    6 bytes
//   SQL_TIME_STRUCT      hour uint16 @0, minute @2, second @4                             6 bytes
//   SQL_TIMESTAMP_STRUCT year @0, month @2, day @4, hour @6, minute @8, second @10,
//                        fraction uint32 (nanoseconds) @12                               16 bytes
//   SQL_INTERVAL_STRUCT  interval type int32 @0, sign int16 @4, then @8 either year and
//                        month (uint32 each) or day, hour, minute, second, fraction      28 bytes
inline constexpr int kDateStructSize = 6;
inline constexpr int kTimeStructSize = 6;
inline constexpr int kTimestampStructSize = 16;
inline constexpr int kIntervalStructSize = 28;

}  // namespace odbcapi

// The ODBC entry points the drivers bind, in the order of the function table: name, the
// parameter list (with names) and the argument list. Every function returns SQLRETURN.
// clang-format off
#define KW_ODBC_ENTRY_POINTS(X) \
    X(SQLAllocConnect, (SQLHENV env, SQLHDBC* dbc), (env, dbc)) \
    X(SQLAllocEnv, (SQLHENV* env), (env)) \
    X(SQLAllocHandle, (SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output), (type, input, output)) \
    X(SQLAllocStmt, (SQLHDBC dbc, SQLHSTMT* stmt), (dbc, stmt)) \
    X(SQLBindCol, (SQLHSTMT stmt, SQLUSMALLINT col, SQLSMALLINT ctype, SQLPOINTER value, SQLLEN size, SQLLEN* ind), (stmt, col, ctype, value, size, ind)) \
    X(SQLCancel, (SQLHSTMT stmt), (stmt)) \
    X(SQLCloseCursor, (SQLHSTMT stmt), (stmt)) \
    X(SQLColAttribute, (SQLHSTMT stmt, SQLUSMALLINT col, SQLUSMALLINT field, SQLPOINTER text, SQLSMALLINT size, SQLSMALLINT* length, SQLLEN* number), (stmt, col, field, text, size, length, number)) \
    X(SQLColumns, (SQLHSTMT stmt, SQLCHAR* cat, SQLSMALLINT catLen, SQLCHAR* schema, SQLSMALLINT schemaLen, SQLCHAR* table, SQLSMALLINT tableLen, SQLCHAR* column, SQLSMALLINT columnLen), (stmt, cat, catLen, schema, schemaLen, table, tableLen, column, columnLen)) \
    X(SQLConnect, (SQLHDBC dbc, SQLCHAR* dsn, SQLSMALLINT dsnLen, SQLCHAR* user, SQLSMALLINT userLen, SQLCHAR* pwd, SQLSMALLINT pwdLen), (dbc, dsn, dsnLen, user, userLen, pwd, pwdLen)) \
    X(SQLCopyDesc, (SQLHDESC source, SQLHDESC target), (source, target)) \
    X(SQLDataSources, (SQLHENV env, SQLUSMALLINT direction, SQLCHAR* name, SQLSMALLINT nameSize, SQLSMALLINT* nameLen, SQLCHAR* desc, SQLSMALLINT descSize, SQLSMALLINT* descLen), (env, direction, name, nameSize, nameLen, desc, descSize, descLen)) \
    X(SQLDescribeCol, (SQLHSTMT stmt, SQLUSMALLINT col, SQLCHAR* name, SQLSMALLINT nameSize, SQLSMALLINT* nameLen, SQLSMALLINT* type, SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable), (stmt, col, name, nameSize, nameLen, type, size, digits, nullable)) \
    X(SQLDisconnect, (SQLHDBC dbc), (dbc)) \
    X(SQLEndTran, (SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion), (type, handle, completion)) \
    X(SQLError, (SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, SQLCHAR* state, SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT size, SQLSMALLINT* length), (env, dbc, stmt, state, native, text, size, length)) \
    X(SQLExecDirect, (SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length), (stmt, text, length)) \
    X(SQLExecute, (SQLHSTMT stmt), (stmt)) \
    X(SQLFetch, (SQLHSTMT stmt), (stmt)) \
    X(SQLFetchScroll, (SQLHSTMT stmt, SQLSMALLINT orientation, SQLLEN offset), (stmt, orientation, offset)) \
    X(SQLFreeConnect, (SQLHDBC dbc), (dbc)) \
    X(SQLFreeEnv, (SQLHENV env), (env)) \
    X(SQLFreeHandle, (SQLSMALLINT type, SQLHANDLE handle), (type, handle)) \
    X(SQLFreeStmt, (SQLHSTMT stmt, SQLUSMALLINT option), (stmt, option)) \
    X(SQLGetConnectAttr, (SQLHDBC dbc, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER size, SQLINTEGER* length), (dbc, attr, value, size, length)) \
    X(SQLGetConnectOption, (SQLHDBC dbc, SQLUSMALLINT option, SQLPOINTER value), (dbc, option, value)) \
    X(SQLGetCursorName, (SQLHSTMT stmt, SQLCHAR* name, SQLSMALLINT size, SQLSMALLINT* length), (stmt, name, size, length)) \
    X(SQLGetData, (SQLHSTMT stmt, SQLUSMALLINT col, SQLSMALLINT ctype, SQLPOINTER value, SQLLEN size, SQLLEN* ind), (stmt, col, ctype, value, size, ind)) \
    X(SQLGetDescField, (SQLHDESC desc, SQLSMALLINT rec, SQLSMALLINT field, SQLPOINTER value, SQLINTEGER size, SQLINTEGER* length), (desc, rec, field, value, size, length)) \
    X(SQLGetDescRec, (SQLHDESC desc, SQLSMALLINT rec, SQLCHAR* name, SQLSMALLINT size, SQLSMALLINT* length, SQLSMALLINT* type, SQLSMALLINT* subType, SQLLEN* dataLen, SQLSMALLINT* precision, SQLSMALLINT* scale, SQLSMALLINT* nullable), (desc, rec, name, size, length, type, subType, dataLen, precision, scale, nullable)) \
    X(SQLGetDiagField, (SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT rec, SQLSMALLINT field, SQLPOINTER value, SQLSMALLINT size, SQLSMALLINT* length), (type, handle, rec, field, value, size, length)) \
    X(SQLGetDiagRec, (SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT rec, SQLCHAR* state, SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT size, SQLSMALLINT* length), (type, handle, rec, state, native, text, size, length)) \
    X(SQLGetEnvAttr, (SQLHENV env, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER size, SQLINTEGER* length), (env, attr, value, size, length)) \
    X(SQLGetFunctions, (SQLHDBC dbc, SQLUSMALLINT function, SQLUSMALLINT* supported), (dbc, function, supported)) \
    X(SQLGetInfo, (SQLHDBC dbc, SQLUSMALLINT info, SQLPOINTER value, SQLSMALLINT size, SQLSMALLINT* length), (dbc, info, value, size, length)) \
    X(SQLGetStmtAttr, (SQLHSTMT stmt, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER size, SQLINTEGER* length), (stmt, attr, value, size, length)) \
    X(SQLGetStmtOption, (SQLHSTMT stmt, SQLUSMALLINT option, SQLPOINTER value), (stmt, option, value)) \
    X(SQLGetTypeInfo, (SQLHSTMT stmt, SQLSMALLINT type), (stmt, type)) \
    X(SQLNumResultCols, (SQLHSTMT stmt, SQLSMALLINT* count), (stmt, count)) \
    X(SQLParamData, (SQLHSTMT stmt, SQLPOINTER* token), (stmt, token)) \
    X(SQLPrepare, (SQLHSTMT stmt, SQLCHAR* text, SQLINTEGER length), (stmt, text, length)) \
    X(SQLPutData, (SQLHSTMT stmt, SQLPOINTER data, SQLLEN length), (stmt, data, length)) \
    X(SQLRowCount, (SQLHSTMT stmt, SQLLEN* count), (stmt, count)) \
    X(SQLSetConnectAttr, (SQLHDBC dbc, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER length), (dbc, attr, value, length)) \
    X(SQLSetConnectOption, (SQLHDBC dbc, SQLUSMALLINT option, SQLULEN value), (dbc, option, value)) \
    X(SQLSetCursorName, (SQLHSTMT stmt, SQLCHAR* name, SQLSMALLINT length), (stmt, name, length)) \
    X(SQLSetDescField, (SQLHDESC desc, SQLSMALLINT rec, SQLSMALLINT field, SQLPOINTER value, SQLINTEGER length), (desc, rec, field, value, length)) \
    X(SQLSetDescRec, (SQLHDESC desc, SQLSMALLINT rec, SQLSMALLINT type, SQLSMALLINT subType, SQLLEN dataLen, SQLSMALLINT precision, SQLSMALLINT scale, SQLPOINTER data, SQLLEN* length, SQLLEN* ind), (desc, rec, type, subType, dataLen, precision, scale, data, length, ind)) \
    X(SQLSetEnvAttr, (SQLHENV env, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER length), (env, attr, value, length)) \
    X(SQLSetParam, (SQLHSTMT stmt, SQLUSMALLINT param, SQLSMALLINT ctype, SQLSMALLINT sqltype, SQLULEN size, SQLSMALLINT scale, SQLPOINTER value, SQLLEN* ind), (stmt, param, ctype, sqltype, size, scale, value, ind)) \
    X(SQLSetStmtAttr, (SQLHSTMT stmt, SQLINTEGER attr, SQLPOINTER value, SQLINTEGER length), (stmt, attr, value, length)) \
    X(SQLSetStmtOption, (SQLHSTMT stmt, SQLUSMALLINT option, SQLULEN value), (stmt, option, value)) \
    X(SQLSpecialColumns, (SQLHSTMT stmt, SQLUSMALLINT idType, SQLCHAR* cat, SQLSMALLINT catLen, SQLCHAR* schema, SQLSMALLINT schemaLen, SQLCHAR* table, SQLSMALLINT tableLen, SQLUSMALLINT scope, SQLUSMALLINT nullable), (stmt, idType, cat, catLen, schema, schemaLen, table, tableLen, scope, nullable)) \
    X(SQLStatistics, (SQLHSTMT stmt, SQLCHAR* cat, SQLSMALLINT catLen, SQLCHAR* schema, SQLSMALLINT schemaLen, SQLCHAR* table, SQLSMALLINT tableLen, SQLUSMALLINT unique, SQLUSMALLINT reserved), (stmt, cat, catLen, schema, schemaLen, table, tableLen, unique, reserved)) \
    X(SQLTables, (SQLHSTMT stmt, SQLCHAR* cat, SQLSMALLINT catLen, SQLCHAR* schema, SQLSMALLINT schemaLen, SQLCHAR* table, SQLSMALLINT tableLen, SQLCHAR* types, SQLSMALLINT typesLen), (stmt, cat, catLen, schema, schemaLen, table, tableLen, types, typesLen)) \
    X(SQLTransact, (SQLHENV env, SQLHDBC dbc, SQLUSMALLINT completion), (env, dbc, completion)) \
    X(SQLBrowseConnect, (SQLHDBC dbc, SQLCHAR* in, SQLSMALLINT inLen, SQLCHAR* out, SQLSMALLINT outSize, SQLSMALLINT* outLen), (dbc, in, inLen, out, outSize, outLen)) \
    X(SQLBulkOperations, (SQLHSTMT stmt, SQLSMALLINT operation), (stmt, operation)) \
    X(SQLColAttributes, (SQLHSTMT stmt, SQLUSMALLINT col, SQLUSMALLINT field, SQLPOINTER text, SQLSMALLINT size, SQLSMALLINT* length, SQLLEN* number), (stmt, col, field, text, size, length, number)) \
    X(SQLColumnPrivileges, (SQLHSTMT stmt, SQLCHAR* cat, SQLSMALLINT catLen, SQLCHAR* schema, SQLSMALLINT schemaLen, SQLCHAR* table, SQLSMALLINT tableLen, SQLCHAR* column, SQLSMALLINT columnLen), (stmt, cat, catLen, schema, schemaLen, table, tableLen, column, columnLen)) \
    X(SQLDescribeParam, (SQLHSTMT stmt, SQLUSMALLINT param, SQLSMALLINT* type, SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable), (stmt, param, type, size, digits, nullable)) \
    X(SQLExtendedFetch, (SQLHSTMT stmt, SQLUSMALLINT orientation, SQLLEN offset, SQLULEN* rows, SQLUSMALLINT* status), (stmt, orientation, offset, rows, status)) \
    X(SQLForeignKeys, (SQLHSTMT stmt, SQLCHAR* pkCat, SQLSMALLINT pkCatLen, SQLCHAR* pkSchema, SQLSMALLINT pkSchemaLen, SQLCHAR* pkTable, SQLSMALLINT pkTableLen, SQLCHAR* fkCat, SQLSMALLINT fkCatLen, SQLCHAR* fkSchema, SQLSMALLINT fkSchemaLen, SQLCHAR* fkTable, SQLSMALLINT fkTableLen), (stmt, pkCat, pkCatLen, pkSchema, pkSchemaLen, pkTable, pkTableLen, fkCat, fkCatLen, fkSchema, fkSchemaLen, fkTable, fkTableLen)) \
    X(SQLMoreResults, (SQLHSTMT stmt), (stmt)) \
    X(SQLNativeSql, (SQLHDBC dbc, SQLCHAR* in, SQLINTEGER inLen, SQLCHAR* out, SQLINTEGER outSize, SQLINTEGER* outLen), (dbc, in, inLen, out, outSize, outLen)) \
    X(SQLNumParams, (SQLHSTMT stmt, SQLSMALLINT* count), (stmt, count)) \
    X(SQLParamOptions, (SQLHSTMT stmt, SQLULEN rows, SQLULEN* row), (stmt, rows, row)) \
    X(SQLPrimaryKeys, (SQLHSTMT stmt, SQLCHAR* cat, SQLSMALLINT catLen, SQLCHAR* schema, SQLSMALLINT schemaLen, SQLCHAR* table, SQLSMALLINT tableLen), (stmt, cat, catLen, schema, schemaLen, table, tableLen)) \
    X(SQLProcedureColumns, (SQLHSTMT stmt, SQLCHAR* cat, SQLSMALLINT catLen, SQLCHAR* schema, SQLSMALLINT schemaLen, SQLCHAR* proc, SQLSMALLINT procLen, SQLCHAR* column, SQLSMALLINT columnLen), (stmt, cat, catLen, schema, schemaLen, proc, procLen, column, columnLen)) \
    X(SQLProcedures, (SQLHSTMT stmt, SQLCHAR* cat, SQLSMALLINT catLen, SQLCHAR* schema, SQLSMALLINT schemaLen, SQLCHAR* proc, SQLSMALLINT procLen), (stmt, cat, catLen, schema, schemaLen, proc, procLen)) \
    X(SQLSetPos, (SQLHSTMT stmt, SQLSETPOSIROW row, SQLUSMALLINT operation, SQLUSMALLINT lock), (stmt, row, operation, lock)) \
    X(SQLTablePrivileges, (SQLHSTMT stmt, SQLCHAR* cat, SQLSMALLINT catLen, SQLCHAR* schema, SQLSMALLINT schemaLen, SQLCHAR* table, SQLSMALLINT tableLen), (stmt, cat, catLen, schema, schemaLen, table, tableLen)) \
    X(SQLDrivers, (SQLHENV env, SQLUSMALLINT direction, SQLCHAR* desc, SQLSMALLINT descSize, SQLSMALLINT* descLen, SQLCHAR* attrs, SQLSMALLINT attrsSize, SQLSMALLINT* attrsLen), (env, direction, desc, descSize, descLen, attrs, attrsSize, attrsLen)) \
    X(SQLBindParameter, (SQLHSTMT stmt, SQLUSMALLINT param, SQLSMALLINT io, SQLSMALLINT ctype, SQLSMALLINT sqltype, SQLULEN size, SQLSMALLINT digits, SQLPOINTER value, SQLLEN bufferSize, SQLLEN* ind), (stmt, param, io, ctype, sqltype, size, digits, value, bufferSize, ind)) \
    X(SQLDriverConnect, (SQLHDBC dbc, SQLHWND window, SQLCHAR* in, SQLSMALLINT inLen, SQLCHAR* out, SQLSMALLINT outSize, SQLSMALLINT* outLen, SQLUSMALLINT completion), (dbc, window, in, inLen, out, outSize, outLen, completion))
// clang-format on

// The bound client library: one entry point per ODBC function, nullptr when the library does
// not export it.
class TOdbcFunctions {
public:
    TOdbcFunctions() = default;
    virtual ~TOdbcFunctions() = default;
    TOdbcFunctions(const TOdbcFunctions&) = delete;
    TOdbcFunctions& operator=(const TOdbcFunctions&) = delete;

    // Takes every entry point the module exports (the others stay nullptr).
    virtual void BindEntryPoints(const plat::DynamicLibrary* module);
    virtual void ClearEntryPoints();
    // Whether the loaded module itself exports a function of that name.
    bool HasEntryPoint(const char* name) const;
    // The number of entry points the table holds (bound or not).
    virtual int EntryPointCount() const;

    const plat::DynamicLibrary* Module = nullptr;

#define KW_ODBC_DECLARE_ENTRY(name, params, args) odbcapi::SQLRETURN(*name) params = nullptr;
    using SQLHENV = odbcapi::SQLHENV;
    using SQLHDBC = odbcapi::SQLHDBC;
    using SQLHSTMT = odbcapi::SQLHSTMT;
    using SQLHDESC = odbcapi::SQLHDESC;
    using SQLHANDLE = odbcapi::SQLHANDLE;
    using SQLHWND = odbcapi::SQLHWND;
    using SQLCHAR = odbcapi::SQLCHAR;
    using SQLSMALLINT = odbcapi::SQLSMALLINT;
    using SQLUSMALLINT = odbcapi::SQLUSMALLINT;
    using SQLINTEGER = odbcapi::SQLINTEGER;
    using SQLLEN = odbcapi::SQLLEN;
    using SQLULEN = odbcapi::SQLULEN;
    using SQLPOINTER = odbcapi::SQLPOINTER;
    using SQLSETPOSIROW = odbcapi::SQLSETPOSIROW;
    KW_ODBC_ENTRY_POINTS(KW_ODBC_DECLARE_ENTRY)
#undef KW_ODBC_DECLARE_ENTRY
};

// How a unit's library is found and released.
struct TOdbcLibraryRules {
    // The built-in file name, or a ";"-separated list of names tried in order.
    std::string DefaultName;
    // The server type whose "<name> API LIBRARY" parameter replaces the name.
    TSDServerType ServerType = stODBC;
    // The name is a list (each item trimmed, the first that loads is used).
    bool NameIsList = false;
    // The last release waits a millisecond first and names the module's full path when it
    // fails.
    bool GentleRelease = false;
};

// The client-library state of one driver unit: file name, module, load count, function table
// and lock. One object per unit and process.
class TOdbcClientLibrary {
public:
    TOdbcClientLibrary(TOdbcLibraryRules rules, std::unique_ptr<TOdbcFunctions> functions);
    // Releases the library until the count is 0.
    ~TOdbcClientLibrary();
    TOdbcClientLibrary(const TOdbcClientLibrary&) = delete;
    TOdbcClientLibrary& operator=(const TOdbcClientLibrary&) = delete;

    // The factories' rule: while nothing is loaded, a non-empty "<server> API LIBRARY"
    // parameter replaces the file name (for the rest of the process).
    void TakeNameFromParams(const rtl::StringList& params);
    // Adds one reference, loading and binding the library on the first; ESDSqlLibError
    // "Error loading library '%s'" (the file name, or the whole list) when it cannot be loaded.
    void Load();
    // Drops one reference; the last one unloads the module and clears the table.
    void Unload();

    TOdbcFunctions* Functions() { return functions_.get(); }
    std::string FileName() const;
    int LoadCount() const;
    bool IsLoaded() const;
    // The file that was actually loaded ("" while none is).
    std::string LoadedName() const;

private:
    const TOdbcLibraryRules rules_;
    mutable std::mutex lock_;
    std::string fileName_;
    TSDModule module_;
    int loadCount_ = 0;
    std::unique_ptr<TOdbcFunctions> functions_;
};

// Connection-string attribute values: a value that holds ";", "{" or "}", or begins or ends
// with a blank, is written in braces with each "}" doubled, so it cannot end its attribute
// early and add attributes of its own; any other value is written as it stands (some data
// sources, psqlODBC among them, take braces literally in a user name).
std::string OdbcAttributeValue(const std::string& value);
