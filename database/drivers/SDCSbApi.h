// database/drivers/SDCSbApi.h: the SQLBase client library as the SQL library's SQLBase driver
// binds it (part of unit SDCSb).
//
// The driver never links against a client library: it loads one by file name at run time and
// takes every entry point by name (SDCSb.cpp). This header declares, in namespace csbapi, what
// the driver needs of the client: the scalar types of its calls, the parameter numbers, the
// data-type codes, the describe-information record, and the one entry table in its binding
// order. The stand-in client library of the tests implements the calls from the same table.
//
// Sizes on this platform: cursor handles are 16 bits, as the engine's handle record keeps
// them; a connection handle of the version 7 interface is pointer-sized (the client may hand
// out an address). Lengths are 32 bits, so a long parameter or column name is never cut by a
// narrow length field. The length and fetch-status words that the client fills for a bound
// select item are 32 bits: they are the two words of the engine's cell header.
//
// KW_CSB_ENTRY_POINTS gives X(name, return type, parameter list, kind) in binding order. Kind
// is Bound for an entry the driver binds only to check that the library is complete (its
// parameter list is (void): it is never called), Called for one the driver calls, and
// Version7 for the three optional entries of the version 7 interface (kCsb##kind names it as
// a value).
#pragma once

#include <cstddef>
#include <cstdint>

namespace csbapi {

using SQLTRCD = int16_t;    // a call's result: 0 success, else the client's error code
using SQLTCUR = uint16_t;   // cursor handle
using SQLTCON = uintptr_t;  // version 7 connection handle
using SQLTDAL = uint32_t;   // data length
using SQLTPTY = uint16_t;   // parameter number of sqlset / sqlget
using SQLTEPO = int32_t;    // error position in the statement text
using SQLTMOD = int32_t;    // mode flags
using SQLTBNP = int32_t;    // bind position, from 1
using SQLTPDL = uint32_t;   // program buffer length
using SQLTSCA = int16_t;    // scale
using SQLTPDT = uint8_t;    // program data type
using SQLTNUL = int16_t;    // null indicator: -1 null, 0 a value
using SQLTSLC = int16_t;    // select-list column, from 1
using SQLTCDL = uint32_t;   // current data length of a fetched item
using SQLTFSC = int32_t;    // fetch status of a fetched item
using SQLTNSI = int16_t;    // number of select items
using SQLTNBV = int16_t;    // number of bind variables
using SQLTDDT = uint8_t;    // database (external) data type
using SQLTDDL = uint32_t;   // described length
using SQLTCHL = uint32_t;   // column heading length
using SQLTPRE = uint8_t;    // precision
using SQLTLSI = uint32_t;   // long value size or position
using SQLTCTY = int16_t;    // command type
using SQLTROW = int32_t;    // rows processed

// Results of sqlfet.
inline constexpr SQLTRCD kFetchRow = 0;
inline constexpr SQLTRCD kFetchEnd = 1;

// Codes that mean the connection is gone.
inline constexpr int kCsbConnectionLost = 3806;
inline constexpr int kCsbConnectionBroken = 9024;

// Parameter numbers of sqlset and sqlget.
inline constexpr SQLTPTY SQLPLRD = 9;      // connection: read long values in the row buffer
inline constexpr SQLTPTY SQLPCTI = 1010;   // connection: command time-out
inline constexpr SQLTPTY SQLPBRN = 1003;   // brand: a 32-bit brand code first
inline constexpr SQLTPTY SQLPVER = 1004;   // the server's version text
inline constexpr SQLTPTY SQLPTMO = 3002;   // cursor: time-out
inline constexpr SQLTPTY SQLPCCB = 3003;   // cursor: keep the context beyond commit
inline constexpr SQLTPTY SQLPAUT = 3006;   // cursor: auto-commit (1 on, 0 off)
inline constexpr SQLTPTY SQLPNPB = 3018;   // cursor: no pre-build of the result set

// Command types of sqlcty.
inline constexpr SQLTCTY SQLTSELECT = 1;

// Program data types (what a bind or a select buffer holds).
inline constexpr SQLTPDT SQLPSTR = 2;    // zero-terminated text
inline constexpr SQLTPDT SQLPSLO = 8;    // 32-bit integer
inline constexpr SQLTPDT SQLPDOU = 10;   // double
inline constexpr SQLTPDT SQLPDTM = 12;   // internal date-time
inline constexpr SQLTPDT SQLPDAT = 15;   // internal date
inline constexpr SQLTPDT SQLPTIM = 16;   // internal time
inline constexpr SQLTPDT SQLPUSH = 17;   // 16-bit unsigned integer
inline constexpr SQLTPDT SQLPSSH = 18;   // 16-bit integer
inline constexpr SQLTPDT SQLPLON = 22;   // long text
inline constexpr SQLTPDT SQLPLBI = 23;   // long binary

// Database (external) data types as sqldsc describes a select item.
inline constexpr SQLTDDT SQLEINT = 1;    // integer
inline constexpr SQLTDDT SQLESMA = 2;    // smallint
inline constexpr SQLTDDT SQLEFLO = 3;    // float
inline constexpr SQLTDDT SQLECHR = 4;    // fixed-length character
inline constexpr SQLTDDT SQLEVAR = 5;    // varying character
inline constexpr SQLTDDT SQLELON = 6;    // long varying
inline constexpr SQLTDDT SQLEDEC = 7;    // decimal
inline constexpr SQLTDDT SQLEDAT = 8;    // date
inline constexpr SQLTDDT SQLETIM = 9;    // time
inline constexpr SQLTDDT SQLETMS = 10;   // time stamp
inline constexpr SQLTDDT SQLEMON = 11;   // money
inline constexpr SQLTDDT SQLEDOU = 12;   // double
inline constexpr SQLTDDT SQLELBI = 18;   // long binary
inline constexpr SQLTDDT SQLEBOO = 19;   // boolean
inline constexpr SQLTDDT SQLELCH = 20;   // long character
inline constexpr SQLTDDT SQLELNC = 21;   // long national character

// The describe-information record of sqlgdi. The caller puts the select item's number (from
// 1, 16 bits) at kGdiColumn; the client fills the record, whose byte at kGdiNullable is
// non-zero when the column takes nulls.
inline constexpr size_t kGdiSize = 128;
inline constexpr size_t kGdiColumn = 64;
inline constexpr size_t kGdiNullable = 74;
struct gdidef {
    uint8_t Bytes[kGdiSize];
};

// The internal date and time values the client exchanges (sqlxpd, sqlxdp, binds of types
// SQLPDAT, SQLPTIM and SQLPDTM) are at most this long; the driver never reads inside them.
inline constexpr SQLTDAL kInternalDateSize = 12;

enum : int { kCsbBound = 0, kCsbCalled = 1, kCsbVersion7 = 2 };

// clang-format off
#define KW_CSB_ENTRY_POINTS(X) \
    X(sqlbbr, csbapi::SQLTRCD, (void), Bound) \
    X(sqlbdb, csbapi::SQLTRCD, (void), Bound) \
    X(sqlbef, csbapi::SQLTRCD, (void), Bound) \
    X(sqlber, csbapi::SQLTRCD, (void), Bound) \
    X(sqlbkp, csbapi::SQLTRCD, (void), Bound) \
    X(sqlbld, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, const char* name, csbapi::SQLTDAL nameLength), Called) \
    X(sqlblf, csbapi::SQLTRCD, (void), Bound) \
    X(sqlblk, csbapi::SQLTRCD, (void), Bound) \
    X(sqlbln, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, csbapi::SQLTBNP position), Called) \
    X(sqlbna, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, const char* name, csbapi::SQLTDAL nameLength, const void* data, \
                        csbapi::SQLTPDL length, csbapi::SQLTSCA scale, csbapi::SQLTPDT type, csbapi::SQLTNUL indicator), \
      Called) \
    X(sqlbnd, csbapi::SQLTRCD, (void), Bound) \
    X(sqlbnn, csbapi::SQLTRCD, (void), Bound) \
    X(sqlbnu, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, csbapi::SQLTBNP position, const void* data, csbapi::SQLTPDL length, \
                        csbapi::SQLTSCA scale, csbapi::SQLTPDT type, csbapi::SQLTNUL indicator), Called) \
    X(sqlbss, csbapi::SQLTRCD, (void), Bound) \
    X(sqlcan, csbapi::SQLTRCD, (void), Bound) \
    X(sqlcbv, csbapi::SQLTRCD, (csbapi::SQLTCUR cur), Called) \
    X(sqlcdr, csbapi::SQLTRCD, (void), Bound) \
    X(sqlcex, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, const char* sql, csbapi::SQLTDAL length), Called) \
    X(sqlclf, csbapi::SQLTRCD, (void), Bound) \
    X(sqlcmt, csbapi::SQLTRCD, (csbapi::SQLTCUR cur), Called) \
    X(sqlcnc, csbapi::SQLTRCD, (csbapi::SQLTCUR* cur, const char* connectString, csbapi::SQLTDAL length), Called) \
    X(sqlcnr, csbapi::SQLTRCD, (csbapi::SQLTCUR* cur, const char* connectString, csbapi::SQLTDAL length), Called) \
    X(sqlcom, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, const char* sql, csbapi::SQLTDAL length), Called) \
    X(sqlcon, csbapi::SQLTRCD, (void), Bound) \
    X(sqlcpy, csbapi::SQLTRCD, (void), Bound) \
    X(sqlcre, csbapi::SQLTRCD, (void), Bound) \
    X(sqlcrf, csbapi::SQLTRCD, (void), Bound) \
    X(sqlcrs, csbapi::SQLTRCD, (void), Bound) \
    X(sqlcsv, csbapi::SQLTRCD, (void), Bound) \
    X(sqlcty, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, csbapi::SQLTCTY* type), Called) \
    X(sqldbn, csbapi::SQLTRCD, (void), Bound) \
    X(sqlded, csbapi::SQLTRCD, (void), Bound) \
    X(sqldel, csbapi::SQLTRCD, (void), Bound) \
    X(sqldes, csbapi::SQLTRCD, (void), Bound) \
    X(sqldid, csbapi::SQLTRCD, (void), Bound) \
    X(sqldii, csbapi::SQLTRCD, (void), Bound) \
    X(sqldin, csbapi::SQLTRCD, (void), Bound) \
    X(sqldir, csbapi::SQLTRCD, (void), Bound) \
    X(sqldis, csbapi::SQLTRCD, (csbapi::SQLTCUR cur), Called) \
    X(sqldon, csbapi::SQLTRCD, (), Called) \
    X(sqldox, csbapi::SQLTRCD, (void), Bound) \
    X(sqldrc, csbapi::SQLTRCD, (void), Bound) \
    X(sqldro, csbapi::SQLTRCD, (void), Bound) \
    X(sqldrr, csbapi::SQLTRCD, (void), Bound) \
    X(sqldrs, csbapi::SQLTRCD, (void), Bound) \
    X(sqldsc, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, csbapi::SQLTSLC column, csbapi::SQLTDDT* type, csbapi::SQLTDDL* length, \
                        char* name, csbapi::SQLTCHL* nameLength, csbapi::SQLTPRE* precision, csbapi::SQLTSCA* scale), \
      Called) \
    X(sqldst, csbapi::SQLTRCD, (void), Bound) \
    X(sqldsv, csbapi::SQLTRCD, (void), Bound) \
    X(sqlebk, csbapi::SQLTRCD, (void), Bound) \
    X(sqlefb, csbapi::SQLTRCD, (void), Bound) \
    X(sqlelo, csbapi::SQLTRCD, (csbapi::SQLTCUR cur), Called) \
    X(sqlenr, csbapi::SQLTRCD, (void), Bound) \
    X(sqlepo, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, csbapi::SQLTEPO* position), Called) \
    X(sqlerf, csbapi::SQLTRCD, (void), Bound) \
    X(sqlerr, csbapi::SQLTRCD, (void), Bound) \
    X(sqlers, csbapi::SQLTRCD, (void), Bound) \
    X(sqletx, csbapi::SQLTRCD, (void), Bound) \
    X(sqlexe, csbapi::SQLTRCD, (csbapi::SQLTCUR cur), Called) \
    X(sqlexp, csbapi::SQLTRCD, (void), Bound) \
    X(sqlfbk, csbapi::SQLTRCD, (void), Bound) \
    X(sqlfer, csbapi::SQLTRCD, (csbapi::SQLTRCD code, char* text), Called) \
    X(sqlfet, csbapi::SQLTRCD, (csbapi::SQLTCUR cur), Called) \
    X(sqlfgt, csbapi::SQLTRCD, (void), Bound) \
    X(sqlfpt, csbapi::SQLTRCD, (void), Bound) \
    X(sqlfqn, csbapi::SQLTRCD, (void), Bound) \
    X(sqlgbi, csbapi::SQLTRCD, (void), Bound) \
    X(sqlgdi, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, csbapi::gdidef* info), Called) \
    X(sqlget, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, csbapi::SQLTPTY parameter, void* buffer, csbapi::SQLTDAL* length), \
      Called) \
    X(sqlgfi, csbapi::SQLTRCD, (void), Bound) \
    X(sqlgls, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, csbapi::SQLTSLC column, csbapi::SQLTLSI* size), Called) \
    X(sqlgnl, csbapi::SQLTRCD, (void), Bound) \
    X(sqlgnr, csbapi::SQLTRCD, (void), Bound) \
    X(sqlgsi, csbapi::SQLTRCD, (void), Bound) \
    X(sqlidb, csbapi::SQLTRCD, (void), Bound) \
    X(sqlims, csbapi::SQLTRCD, (void), Bound) \
    X(sqlind, csbapi::SQLTRCD, (void), Bound) \
    X(sqlini, csbapi::SQLTRCD, (void* yieldProc), Called) \
    X(sqlins, csbapi::SQLTRCD, (void), Bound) \
    X(sqllab, csbapi::SQLTRCD, (void), Bound) \
    X(sqlldp, csbapi::SQLTRCD, (void), Bound) \
    X(sqllsk, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, csbapi::SQLTSLC column, csbapi::SQLTLSI position), Called) \
    X(sqlmcl, csbapi::SQLTRCD, (void), Bound) \
    X(sqlmdl, csbapi::SQLTRCD, (void), Bound) \
    X(sqlmop, csbapi::SQLTRCD, (void), Bound) \
    X(sqlmrd, csbapi::SQLTRCD, (void), Bound) \
    X(sqlmsk, csbapi::SQLTRCD, (void), Bound) \
    X(sqlmwr, csbapi::SQLTRCD, (void), Bound) \
    X(sqlnbv, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, csbapi::SQLTNBV* count), Called) \
    X(sqlnii, csbapi::SQLTRCD, (void), Bound) \
    X(sqlnrr, csbapi::SQLTRCD, (void), Bound) \
    X(sqlnsi, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, csbapi::SQLTNSI* count), Called) \
    X(sqloms, csbapi::SQLTRCD, (void), Bound) \
    X(sqlprs, csbapi::SQLTRCD, (void), Bound) \
    X(sqlrbf, csbapi::SQLTRCD, (void), Bound) \
    X(sqlrbk, csbapi::SQLTRCD, (csbapi::SQLTCUR cur), Called) \
    X(sqlrcd, csbapi::SQLTRCD, (void), Bound) \
    X(sqlrdb, csbapi::SQLTRCD, (void), Bound) \
    X(sqlrdc, csbapi::SQLTRCD, (void), Bound) \
    X(sqlrel, csbapi::SQLTRCD, (void), Bound) \
    X(sqlres, csbapi::SQLTRCD, (void), Bound) \
    X(sqlret, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, const char* name, csbapi::SQLTDAL length), Called) \
    X(sqlrlf, csbapi::SQLTRCD, (void), Bound) \
    X(sqlrlo, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, csbapi::SQLTSLC column, void* buffer, csbapi::SQLTDAL length, \
                        csbapi::SQLTDAL* read), Called) \
    X(sqlrof, csbapi::SQLTRCD, (void), Bound) \
    X(sqlrow, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, csbapi::SQLTROW* rows), Called) \
    X(sqlrrd, csbapi::SQLTRCD, (void), Bound) \
    X(sqlrrs, csbapi::SQLTRCD, (void), Bound) \
    X(sqlrsi, csbapi::SQLTRCD, (void), Bound) \
    X(sqlrss, csbapi::SQLTRCD, (void), Bound) \
    X(sqlsab, csbapi::SQLTRCD, (void), Bound) \
    X(sqlsap, csbapi::SQLTRCD, (void), Bound) \
    X(sqlscl, csbapi::SQLTRCD, (void), Bound) \
    X(sqlscn, csbapi::SQLTRCD, (void), Bound) \
    X(sqlscp, csbapi::SQLTRCD, (void), Bound) \
    X(sqlsdn, csbapi::SQLTRCD, (void), Bound) \
    X(sqlsds, csbapi::SQLTRCD, (void), Bound) \
    X(sqlsdx, csbapi::SQLTRCD, (void), Bound) \
    X(sqlset, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, csbapi::SQLTPTY parameter, const void* buffer, csbapi::SQLTDAL length), \
      Called) \
    X(sqlsil, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, const char* isolation), Called) \
    X(sqlslp, csbapi::SQLTRCD, (void), Bound) \
    X(sqlspr, csbapi::SQLTRCD, (csbapi::SQLTCUR cur), Called) \
    X(sqlsrf, csbapi::SQLTRCD, (void), Bound) \
    X(sqlsrs, csbapi::SQLTRCD, (csbapi::SQLTCUR cur), Called) \
    X(sqlssb, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, csbapi::SQLTSLC column, csbapi::SQLTPDT type, void* buffer, \
                        csbapi::SQLTPDL length, csbapi::SQLTSCA scale, csbapi::SQLTCDL* currentLength, \
                        csbapi::SQLTFSC* status), Called) \
    X(sqlsss, csbapi::SQLTRCD, (void), Bound) \
    X(sqlsta, csbapi::SQLTRCD, (void), Bound) \
    X(sqlstm, csbapi::SQLTRCD, (void), Bound) \
    X(sqlsto, csbapi::SQLTRCD, (void), Bound) \
    X(sqlstr, csbapi::SQLTRCD, (void), Bound) \
    X(sqlsxt, csbapi::SQLTRCD, (void), Bound) \
    X(sqltec, csbapi::SQLTRCD, (void), Bound) \
    X(sqltem, csbapi::SQLTRCD, (void), Bound) \
    X(sqltio, csbapi::SQLTRCD, (void), Bound) \
    X(sqlunl, csbapi::SQLTRCD, (void), Bound) \
    X(sqlurs, csbapi::SQLTRCD, (void), Bound) \
    X(sqlwdc, csbapi::SQLTRCD, (void), Bound) \
    X(sqlwlo, csbapi::SQLTRCD, (csbapi::SQLTCUR cur, const void* data, csbapi::SQLTDAL length), Called) \
    X(sqlxad, csbapi::SQLTRCD, (void), Bound) \
    X(sqlxcn, csbapi::SQLTRCD, (void), Bound) \
    X(sqlxda, csbapi::SQLTRCD, (void), Bound) \
    X(sqlxdp, csbapi::SQLTRCD, (char* text, csbapi::SQLTPDL textLength, const void* value, csbapi::SQLTDAL valueLength, \
                        const char* picture, csbapi::SQLTPDL pictureLength), Called) \
    X(sqlxdv, csbapi::SQLTRCD, (void), Bound) \
    X(sqlxer, csbapi::SQLTRCD, (void), Bound) \
    X(sqlxml, csbapi::SQLTRCD, (void), Bound) \
    X(sqlxnp, csbapi::SQLTRCD, (void), Bound) \
    X(sqlxpd, csbapi::SQLTRCD, (void* value, csbapi::SQLTDAL* valueLength, const char* text, const char* picture, \
                        csbapi::SQLTPDL pictureLength), Called) \
    X(sqlxsb, csbapi::SQLTRCD, (void), Bound) \
    X(sqlcch, csbapi::SQLTRCD, (csbapi::SQLTCON* connection, const char* connectString, csbapi::SQLTDAL length, \
                        csbapi::SQLTMOD mode), Version7) \
    X(sqldch, csbapi::SQLTRCD, (csbapi::SQLTCON connection), Version7) \
    X(sqlopc, csbapi::SQLTRCD, (csbapi::SQLTCUR* cur, csbapi::SQLTCON connection, csbapi::SQLTMOD mode), Version7)
// clang-format on

}  // namespace csbapi
