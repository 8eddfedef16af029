// database/oracle/SDOraApi.h: the Oracle Call Interface as the SQL library's Oracle driver binds it
// (part of unit SDOra).
//
// The driver never links against a client library: it loads one by file name at run time and
// takes each entry point by name (SDOra.cpp). This header declares what the two driver
// generations need of the interface, in namespace ociapi: the scalar types, the handle and
// descriptor kinds, the status codes, attribute numbers, modes and data-type codes the driver
// uses, the call-back shapes, and the two entry tables in their binding order.
//
// Sizes on this platform: handles, descriptors, LOB locators and statement handles are
// pointers (8 bytes); wherever a value area holds one (a bind or define of a locator, a
// timestamp or interval descriptor, a cursor statement), the area is pointer-sized, and the
// length the driver gives for it is sizeof(void*). The OCI 7 data areas keep their sizes: the
// logon and cursor data areas are 64 bytes, the host data area 256, and the driver reads the
// cursor area's fields at the fixed offsets below.
//
// Each entry point is listed with its signature in an X-macro: KW_OCI8_ENTRY_POINTS and
// KW_OCI7_ENTRY_POINTS give X(name, return type, parameter list, required). The driver binds
// them in this order; the stand-in client library of the tests implements them from the same
// lists. Entry points the driver binds only to check that the library is complete carry the
// parameter list (void): they are never called.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ociapi {

using sword = int32_t;
using eword = int32_t;
using ub1 = uint8_t;
using sb1 = int8_t;
using ub2 = uint16_t;
using sb2 = int16_t;
using ub4 = uint32_t;
using sb4 = int32_t;
using OraText = unsigned char;

// Handles and descriptors are opaque to the driver.
using OCIEnv = void;
using OCIError = void;
using OCISvcCtx = void;
using OCIServer = void;
using OCISession = void;
using OCIStmt = void;
using OCIBind = void;
using OCIDefine = void;
using OCIDescribe = void;
using OCIParam = void;
using OCILobLocator = void;
using OCIDateTime = void;
using OCIInterval = void;
// OCI 7 data areas: a logon data area and a cursor data area are 64 bytes each.
using Lda_Def = uint8_t;
using Cda_Def = uint8_t;

inline constexpr int kLdaSize = 64;
inline constexpr int kCdaSize = 64;
inline constexpr int kHdaSize = 256;
// Fields of an OCI 7 cursor (or logon) data area the driver reads.
inline constexpr int kCdaFunctionType = 2;   // 16-bit: 4 a query, 34 a PL/SQL block
inline constexpr int kCdaRowsProcessed = 4;  // 32-bit
inline constexpr int kCdaParseOffset = 8;    // 16-bit
inline constexpr int kCdaOciFunction = 10;   // 8-bit: 54 is the parse call
inline constexpr int kCdaReturnCode = 12;    // 16-bit
inline constexpr int kCdaQueryFunction = 4;
inline constexpr int kCdaPlsqlFunction = 34;
inline constexpr int kOci7ParseFunction = 54;

// Statuses.
inline constexpr sword OCI_SUCCESS = 0;
inline constexpr sword OCI_SUCCESS_WITH_INFO = 1;
inline constexpr sword OCI_NEED_DATA = 99;
inline constexpr sword OCI_NO_DATA = 100;
inline constexpr sword OCI_ERROR = -1;
inline constexpr sword OCI_INVALID_HANDLE = -2;
inline constexpr sb4 OCI_CONTINUE = -24200;

// Handle types.
inline constexpr ub4 OCI_HTYPE_ENV = 1;
inline constexpr ub4 OCI_HTYPE_ERROR = 2;
inline constexpr ub4 OCI_HTYPE_SVCCTX = 3;
inline constexpr ub4 OCI_HTYPE_STMT = 4;
inline constexpr ub4 OCI_HTYPE_BIND = 5;
inline constexpr ub4 OCI_HTYPE_DEFINE = 6;
inline constexpr ub4 OCI_HTYPE_DESCRIBE = 7;
inline constexpr ub4 OCI_HTYPE_SERVER = 8;
inline constexpr ub4 OCI_HTYPE_SESSION = 9;

// Descriptor types.
inline constexpr ub4 OCI_DTYPE_LOB = 50;
inline constexpr ub4 OCI_DTYPE_PARAM = 53;
inline constexpr ub4 OCI_DTYPE_FILE = 56;
inline constexpr ub4 OCI_DTYPE_INTERVAL_YM = 62;
inline constexpr ub4 OCI_DTYPE_INTERVAL_DS = 63;
inline constexpr ub4 OCI_DTYPE_DATE = 65;
inline constexpr ub4 OCI_DTYPE_TIME = 66;
inline constexpr ub4 OCI_DTYPE_TIME_TZ = 67;
inline constexpr ub4 OCI_DTYPE_TIMESTAMP = 68;
inline constexpr ub4 OCI_DTYPE_TIMESTAMP_TZ = 69;
inline constexpr ub4 OCI_DTYPE_TIMESTAMP_LTZ = 70;

// Attributes (the handle or descriptor they are read from in brackets).
inline constexpr ub4 OCI_ATTR_DATA_SIZE = 1;             // column (ub2)
inline constexpr ub4 OCI_ATTR_DATA_TYPE = 2;             // column, argument (ub2)
inline constexpr ub4 OCI_ATTR_DISP_SIZE = 3;             // column (ub2)
inline constexpr ub4 OCI_ATTR_NAME = 4;                  // column, argument, sub-program (text)
inline constexpr ub4 OCI_ATTR_PRECISION = 5;             // column, argument (ub1)
inline constexpr ub4 OCI_ATTR_SCALE = 6;                 // column, argument (sb1)
inline constexpr ub4 OCI_ATTR_IS_NULL = 7;               // column (ub1)
inline constexpr ub4 OCI_ATTR_SERVER = 6;                // service context
inline constexpr ub4 OCI_ATTR_SESSION = 7;               // service context
inline constexpr ub4 OCI_ATTR_ROW_COUNT = 9;             // statement (ub4)
inline constexpr ub4 OCI_ATTR_PREFETCH_ROWS = 11;        // statement (ub4)
inline constexpr ub4 OCI_ATTR_PARAM_COUNT = 18;          // statement (ub4)
inline constexpr ub4 OCI_ATTR_USERNAME = 22;             // session
inline constexpr ub4 OCI_ATTR_PASSWORD = 23;             // session
inline constexpr ub4 OCI_ATTR_STMT_TYPE = 24;            // statement (ub2)
inline constexpr ub4 OCI_ATTR_ROWS_RETURNED = 42;        // bind (ub4)
inline constexpr ub4 OCI_ATTR_LOBEMPTY = 45;             // LOB locator (ub4)
inline constexpr ub4 OCI_ATTR_LIST_ARGUMENTS = 108;      // procedure (list parameter)
inline constexpr ub4 OCI_ATTR_LIST_SUBPROGRAMS = 109;    // package (list parameter)
inline constexpr ub4 OCI_ATTR_NUM_PARAMS = 121;          // list (ub2)
inline constexpr ub4 OCI_ATTR_PTYPE = 123;               // sub-program (ub1: 3 procedure, 4 function)
inline constexpr ub4 OCI_ATTR_PARAM = 124;               // describe handle (the described object)
inline constexpr ub4 OCI_ATTR_PARSE_ERROR_OFFSET = 129;  // error handle (ub2)
inline constexpr ub4 OCI_ATTR_IOMODE = 213;              // argument (ub4: 0 in, 1 out, 2 in-out)

// Modes and flags.
inline constexpr ub4 OCI_DEFAULT = 0;
inline constexpr ub4 OCI_THREADED_OBJECT = 3;  // threaded (1) and object (2)
inline constexpr ub4 OCI_DESCRIBE_ONLY = 16;
inline constexpr ub4 OCI_COMMIT_ON_SUCCESS = 32;
inline constexpr ub4 OCI_DATA_AT_EXEC = 2;   // bind mode
inline constexpr ub4 OCI_DYNAMIC_FETCH = 2;  // define mode
inline constexpr ub4 OCI_AUTH = 8;           // password change that begins the session
inline constexpr ub4 OCI_SYSDBA = 2;
inline constexpr ub4 OCI_SYSOPER = 4;
inline constexpr ub4 OCI_CRED_RDBMS = 1;
inline constexpr ub4 OCI_CRED_EXT = 2;
inline constexpr ub4 OCI_NTV_SYNTAX = 1;
inline constexpr ub2 OCI_FETCH_NEXT = 2;
inline constexpr ub1 OCI_ONE_PIECE = 0;
inline constexpr ub1 OCI_FIRST_PIECE = 1;
inline constexpr ub1 OCI_NEXT_PIECE = 2;
inline constexpr ub1 OCI_LAST_PIECE = 3;
inline constexpr ub1 OCI_TEMP_BLOB = 1;
inline constexpr ub1 OCI_TEMP_CLOB = 2;
inline constexpr ub2 OCI_DURATION_SESSION = 10;
inline constexpr ub1 OCI_FILE_READONLY = 1;
inline constexpr ub1 SQLCS_IMPLICIT = 1;
inline constexpr ub1 OCI_OTYPE_NAME = 1;
inline constexpr ub1 OCI_PTYPE_PROC = 3;
inline constexpr ub1 OCI_PTYPE_FUNC = 4;
inline constexpr ub1 OCI_PTYPE_PKG = 5;

// Statement types (OCI_ATTR_STMT_TYPE).
inline constexpr ub2 OCI_STMT_SELECT = 1;
inline constexpr ub2 OCI_STMT_UPDATE = 2;
inline constexpr ub2 OCI_STMT_DELETE = 3;
inline constexpr ub2 OCI_STMT_INSERT = 4;
inline constexpr ub2 OCI_STMT_CREATE = 5;
inline constexpr ub2 OCI_STMT_DROP = 6;
inline constexpr ub2 OCI_STMT_ALTER = 7;
inline constexpr ub2 OCI_STMT_BEGIN = 8;
inline constexpr ub2 OCI_STMT_DECLARE = 9;

// External data-type codes.
inline constexpr ub2 SQLT_CHR = 1;    // VARCHAR2
inline constexpr ub2 SQLT_NUM = 2;    // NUMBER
inline constexpr ub2 SQLT_INT = 3;    // native integer
inline constexpr ub2 SQLT_FLT = 4;    // native floating point
inline constexpr ub2 SQLT_STR = 5;    // null-terminated string
inline constexpr ub2 SQLT_LNG = 8;    // LONG
inline constexpr ub2 SQLT_RID = 11;   // ROWID (OCI 7)
inline constexpr ub2 SQLT_DAT = 12;   // seven-byte date
inline constexpr ub2 SQLT_BIN = 23;   // RAW
inline constexpr ub2 SQLT_LBI = 24;   // LONG RAW
inline constexpr ub2 SQLT_AFC = 96;   // CHAR (fixed, blank-padded)
inline constexpr ub2 SQLT_AVC = 97;   // null-terminated CHAR
inline constexpr ub2 SQLT_CUR = 102;  // OCI 7 cursor
inline constexpr ub2 SQLT_RDD = 104;  // row identifier descriptor
inline constexpr ub2 SQLT_CLOB = 112;
inline constexpr ub2 SQLT_BLOB = 113;
inline constexpr ub2 SQLT_BFILE = 114;
inline constexpr ub2 SQLT_CFILE = 115;
inline constexpr ub2 SQLT_RSET = 116;  // statement handle (a cursor parameter)
inline constexpr ub2 SQLT_DATE = 184;
inline constexpr ub2 SQLT_TIME = 185;
inline constexpr ub2 SQLT_TIME_TZ = 186;
inline constexpr ub2 SQLT_TIMESTAMP = 187;
inline constexpr ub2 SQLT_TIMESTAMP_TZ = 188;
inline constexpr ub2 SQLT_INTERVAL_YM = 189;
inline constexpr ub2 SQLT_INTERVAL_DS = 190;
inline constexpr ub2 SQLT_TIMESTAMP_LTZ = 232;

// Oracle error numbers the driver knows.
inline constexpr sb4 kOraNoDataFound = 1403;
inline constexpr sb4 kOraEndOfDescribe = 1007;
inline constexpr sb4 kOraNextPieceToInsert = 3129;
inline constexpr sb4 kOraNextPieceToFetch = 3130;
inline constexpr sb4 kOraEndOfFileOnChannel = 3113;
inline constexpr sb4 kOraTnsSendFailure = 12571;
inline constexpr sb4 kOraPasswordExpired = 28001;

// Call-backs of dynamic binds and defines. They run inside the client call that needs them
// and answer OCI_CONTINUE, or another value to stop the call with an error.
using OCICallbackInBind = sb4 (*)(void* ictxp, OCIBind* bindp, ub4 iter, ub4 index, void** bufpp, ub4* alenp,
                                  ub1* piecep, void** indpp);
using OCICallbackOutBind = sb4 (*)(void* octxp, OCIBind* bindp, ub4 iter, ub4 index, void** bufpp,
                                   ub4** alenpp, ub1* piecep, void** indpp, ub2** rcodepp);
using OCICallbackDefine = sb4 (*)(void* octxp, OCIDefine* defnp, ub4 iter, void** bufpp, ub4** alenpp,
                                  ub1* piecep, void** indpp, ub2** rcodep);

// clang-format off
// X(name, return type, parameter list, required) in binding order: 83 entries, of which the
// last eleven and OCIEnvCreate, xaoEnv and xaoSvcCtx are optional.
#define KW_OCI8_ENTRY_POINTS(X) \
    X(OCIInitialize, sword, (ub4 mode, void* ctxp, void* malocfp, void* ralocfp, void* mfreefp), true) \
    X(OCITerminate, sword, (void), true) \
    X(OCIHandleAlloc, sword, (const void* parenth, void** hndlpp, ub4 type, size_t xtramemSz, void** usrmempp), true) \
    X(OCIHandleFree, sword, (void* hndlp, ub4 type), true) \
    X(OCIDescriptorAlloc, sword, (const void* parenth, void** descpp, ub4 type, size_t xtramemSz, void** usrmempp), true) \
    X(OCIDescriptorFree, sword, (void* descp, ub4 type), true) \
    X(OCIEnvCreate, sword, (OCIEnv** envp, ub4 mode, void* ctxp, void* malocfp, void* ralocfp, void* mfreefp, size_t xtramemSz, void** usrmempp), false) \
    X(OCIEnvInit, sword, (OCIEnv** envp, ub4 mode, size_t xtramemSz, void** usrmempp), true) \
    X(OCIServerAttach, sword, (OCIServer* srvhp, OCIError* errhp, const OraText* dblink, sb4 dblinkLen, ub4 mode), true) \
    X(OCIServerDetach, sword, (OCIServer* srvhp, OCIError* errhp, ub4 mode), true) \
    X(OCISessionBegin, sword, (OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 credt, ub4 mode), true) \
    X(OCISessionEnd, sword, (OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 mode), true) \
    X(OCILogon, sword, (void), true) \
    X(OCILogoff, sword, (void), true) \
    X(OCIPasswordChange, sword, (OCISvcCtx* svchp, OCIError* errhp, const OraText* userName, ub4 userLen, const OraText* oldPassword, ub4 oldLen, const OraText* newPassword, ub4 newLen, ub4 mode), true) \
    X(OCIStmtPrepare, sword, (OCIStmt* stmtp, OCIError* errhp, const OraText* stmt, ub4 stmtLen, ub4 language, ub4 mode), true) \
    X(OCIBindByPos, sword, (void), true) \
    X(OCIBindByName, sword, (OCIStmt* stmtp, OCIBind** bindpp, OCIError* errhp, const OraText* placeholder, sb4 placehLen, void* valuep, sb4 valueSz, ub2 dty, void* indp, ub2* alenp, ub2* rcodep, ub4 maxarrLen, ub4* curelep, ub4 mode), true) \
    X(OCIBindObject, sword, (void), true) \
    X(OCIBindDynamic, sword, (OCIBind* bindp, OCIError* errhp, void* ictxp, OCICallbackInBind icbfp, void* octxp, OCICallbackOutBind ocbfp), true) \
    X(OCIBindArrayOfStruct, sword, (void), true) \
    X(OCIStmtGetPieceInfo, sword, (OCIStmt* stmtp, OCIError* errhp, void** hndlpp, ub4* typep, ub1* inOutp, ub4* iterp, ub4* idxp, ub1* piecep), true) \
    X(OCIStmtSetPieceInfo, sword, (void* hndlp, ub4 type, OCIError* errhp, const void* bufp, ub4* alenp, ub1 piece, const void* indp, ub2* rcodep), true) \
    X(OCIStmtExecute, sword, (OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters, ub4 rowoff, const void* snapIn, void* snapOut, ub4 mode), true) \
    X(OCIDefineByPos, sword, (OCIStmt* stmtp, OCIDefine** defnpp, OCIError* errhp, ub4 position, void* valuep, sb4 valueSz, ub2 dty, void* indp, ub2* rlenp, ub2* rcodep, ub4 mode), true) \
    X(OCIDefineObject, sword, (void), true) \
    X(OCIDefineDynamic, sword, (OCIDefine* defnp, OCIError* errhp, void* octxp, OCICallbackDefine ocbfp), true) \
    X(OCIDefineArrayOfStruct, sword, (void), true) \
    X(OCIStmtFetch, sword, (OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation, ub4 mode), true) \
    X(OCIStmtGetBindInfo, sword, (void), true) \
    X(OCIDescribeAny, sword, (OCISvcCtx* svchp, OCIError* errhp, void* objptr, ub4 objnmLen, ub1 objptrTyp, ub1 infoLevel, ub1 objtyp, OCIDescribe* dschp), true) \
    X(OCIParamGet, sword, (const void* hndlp, ub4 htype, OCIError* errhp, void** parmdpp, ub4 pos), true) \
    X(OCIParamSet, sword, (void), true) \
    X(OCITransStart, sword, (void), true) \
    X(OCITransDetach, sword, (void), true) \
    X(OCITransCommit, sword, (OCISvcCtx* svchp, OCIError* errhp, ub4 flags), true) \
    X(OCITransRollback, sword, (OCISvcCtx* svchp, OCIError* errhp, ub4 flags), true) \
    X(OCITransPrepare, sword, (void), true) \
    X(OCITransForget, sword, (void), true) \
    X(OCIErrorGet, sword, (void* hndlp, ub4 recordno, OraText* sqlstate, sb4* errcodep, OraText* bufp, ub4 bufsiz, ub4 type), true) \
    X(OCILobAppend, sword, (void), true) \
    X(OCILobAssign, sword, (void), true) \
    X(OCILobCharSetForm, sword, (void), true) \
    X(OCILobCharSetId, sword, (void), true) \
    X(OCILobCopy, sword, (void), true) \
    X(OCILobDisableBuffering, sword, (void), true) \
    X(OCILobEnableBuffering, sword, (void), true) \
    X(OCILobErase, sword, (void), true) \
    X(OCILobFileClose, sword, (OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* filep), true) \
    X(OCILobFileCloseAll, sword, (void), true) \
    X(OCILobFileExists, sword, (void), true) \
    X(OCILobFileGetName, sword, (void), true) \
    X(OCILobFileIsOpen, sword, (void), true) \
    X(OCILobFileOpen, sword, (OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* filep, ub1 mode), true) \
    X(OCILobFileSetName, sword, (void), true) \
    X(OCILobFlushBuffer, sword, (void), true) \
    X(OCILobGetLength, sword, (OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* lenp), true) \
    X(OCILobIsEqual, sword, (void), true) \
    X(OCILobLoadFromFile, sword, (void), true) \
    X(OCILobLocatorIsInit, sword, (void), true) \
    X(OCILobRead, sword, (OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* amtp, ub4 offset, void* bufp, ub4 bufl, void* ctxp, void* cbfp, ub2 csid, ub1 csfrm), true) \
    X(OCILobTrim, sword, (void), true) \
    X(OCILobWrite, sword, (OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* amtp, ub4 offset, void* bufp, ub4 buflen, ub1 piece, void* ctxp, void* cbfp, ub2 csid, ub1 csfrm), true) \
    X(OCIBreak, sword, (void* hndlp, OCIError* errhp), true) \
    X(OCIServerVersion, sword, (void), true) \
    X(OCIAttrGet, sword, (const void* trgthndlp, ub4 trghndltyp, void* attributep, ub4* sizep, ub4 attrtype, OCIError* errhp), true) \
    X(OCIAttrSet, sword, (void* trgthndlp, ub4 trghndltyp, void* attributep, ub4 size, ub4 attrtype, OCIError* errhp), true) \
    X(OCISvcCtxToLda, sword, (void), true) \
    X(OCILdaToSvcCtx, sword, (void), true) \
    X(OCIResultSetToStmt, sword, (void), true) \
    X(xaoEnv, OCIEnv*, (OraText* dbname), false) \
    X(xaoSvcCtx, OCISvcCtx*, (OraText* dbname), false) \
    X(OCILobCreateTemporary, sword, (OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub2 csid, ub1 csfrm, ub1 lobtype, int cache, ub2 duration), false) \
    X(OCILobFreeTemporary, sword, (void), false) \
    X(OCIDateTimeConstruct, sword, (void* hndl, OCIError* err, OCIDateTime* datetime, sb2 year, ub1 month, ub1 day, ub1 hour, ub1 min, ub1 sec, ub4 fsec, const OraText* timezone, size_t timezoneLength), false) \
    X(OCIDateTimeGetDate, sword, (void* hndl, OCIError* err, const OCIDateTime* datetime, sb2* year, ub1* month, ub1* day), false) \
    X(OCIDateTimeGetTime, sword, (void* hndl, OCIError* err, OCIDateTime* datetime, ub1* hour, ub1* min, ub1* sec, ub4* fsec), false) \
    X(OCIDateTimeGetTimeZoneName, sword, (void), false) \
    X(OCIDateTimeGetTimeZoneOffset, sword, (void* hndl, OCIError* err, const OCIDateTime* datetime, sb1* hour, sb1* min), false) \
    X(OCIIntervalSetYearMonth, sword, (void), false) \
    X(OCIIntervalGetYearMonth, sword, (void* hndl, OCIError* err, sb4* year, sb4* month, const OCIInterval* interval), false) \
    X(OCIIntervalSetDaySecond, sword, (void), false) \
    X(OCIIntervalGetDaySecond, sword, (void* hndl, OCIError* err, sb4* day, sb4* hour, sb4* min, sb4* sec, sb4* fsec, const OCIInterval* interval), false)

// X(name, return type, parameter list, piecewise): 34 entries; the five piecewise ones are
// required only from client version 7.3 on, every other one always.
#define KW_OCI7_ENTRY_POINTS(X) \
    X(obindps, sword, (Cda_Def* cursor, ub1 opcode, OraText* sqlvar, sb4 sqlvl, ub1* pvctx, sb4 progvl, sword ftype, sword scale, sb2* indp, ub2* alenp, ub2* rcodep, sb4 pvSkip, sb4 indSkip, sb4 alenSkip, sb4 rcSkip, ub4 maxsiz, ub4* cursiz, OraText* fmt, sb4 fmtl, sword fmtt), true) \
    X(obreak, sword, (Lda_Def* lda), false) \
    X(ocan, sword, (void), false) \
    X(oclose, sword, (Cda_Def* cursor), false) \
    X(ocof, sword, (Lda_Def* lda), false) \
    X(ocom, sword, (Lda_Def* lda), false) \
    X(ocon, sword, (Lda_Def* lda), false) \
    X(odefinps, sword, (Cda_Def* cursor, ub1 opcode, sword pos, ub1* bufctx, sb4 bufl, sword ftype, sword scale, sb2* indp, OraText* fmt, sb4 fmtl, sword fmtt, ub2* rlenp, ub2* rcodep, sb4 bufSkip, sb4 indSkip, sb4 lenSkip, sb4 rcSkip), true) \
    X(odessp, sword, (Lda_Def* lda, OraText* objnam, size_t onlen, ub1* rsv1, size_t rsv1ln, ub1* rsv2, size_t rsv2ln, ub2* ovrld, ub2* pos, ub2* level, OraText* argnm, ub2* arnlen, ub2* dtype, ub1* defsup, ub1* mode, ub4* dtsiz, sb2* prec, sb2* scale, ub1* radix, ub4* spare, ub4* arrsiz), false) \
    X(odescr, sword, (Cda_Def* cursor, sword pos, sb4* dbsize, sb2* dbtype, sb1* cbuf, sb4* cbufl, sb4* dsize, sb2* prec, sb2* scale, sb2* nullok), false) \
    X(oerhms, sword, (Lda_Def* lda, sb2 rcode, OraText* buf, sword bufsiz), false) \
    X(oermsg, sword, (void), false) \
    X(oexec, sword, (Cda_Def* cursor), false) \
    X(oexfet, sword, (void), false) \
    X(oexn, sword, (void), false) \
    X(ofen, sword, (void), false) \
    X(ofetch, sword, (Cda_Def* cursor), false) \
    X(oflng, sword, (Cda_Def* cursor, sword pos, ub1* buf, sb4 bufl, sword dtype, ub4* retl, sb4 offset), false) \
    X(ogetpi, sword, (Cda_Def* cursor, ub1* piecep, void** ctxpp, ub4* iterp, ub4* indexp), true) \
    X(oopt, sword, (void), false) \
    X(opinit, sword, (ub4 mode), true) \
    X(olog, sword, (Lda_Def* lda, ub1* hda, OraText* uid, sword uidl, OraText* pswd, sword pswdl, OraText* conn, sword connl, ub4 mode), false) \
    X(ologof, sword, (Lda_Def* lda), false) \
    X(oopen, sword, (Cda_Def* cursor, Lda_Def* lda, OraText* dbn, sword dbnl, sword arsize, OraText* uid, sword uidl), false) \
    X(oparse, sword, (Cda_Def* cursor, OraText* sqlstm, sb4 sqllen, sword defflg, ub4 lngflg), false) \
    X(orol, sword, (Lda_Def* lda), false) \
    X(osetpi, sword, (Cda_Def* cursor, ub1 piece, void* bufp, ub4* lenp), true) \
    X(onbset, sword, (void), false) \
    X(onbtst, sword, (void), false) \
    X(onbclr, sword, (void), false) \
    X(obndra, sword, (Cda_Def* cursor, OraText* sqlvar, sword sqlvl, ub1* progv, sword progvl, sword ftype, sword scale, sb2* indp, ub2* alen, ub2* arcode, ub4 maxsiz, ub4* cursiz, OraText* fmt, sword fmtl, sword fmtt), false) \
    X(obndrn, sword, (void), false) \
    X(obndrv, sword, (void), false) \
    X(odefin, sword, (Cda_Def* cursor, sword pos, ub1* buf, sword bufl, sword ftype, sword scale, sb2* indp, OraText* fmt, sword fmtl, sword fmtt, ub2* rlen, ub2* rcode), false)
// clang-format on

}  // namespace ociapi
