// database/drivers/OleDbApi.h: the OLE DB interfaces, records and constants the OLE DB driver,
// the data-link object and providers exchange (namespace oledb), our own declarations.
//
// Each interface is an abstract class over com::IUnknown with its published identifier
// (kIID) and its operations in their published order; operations the driver never calls keep
// their slot with opaque parameters. Records keep their published fields and order; the
// sizes that are pointer-sized on a 64-bit platform (ordinals, lengths, offsets, row and
// accessor handles) are pointer-sized here, so a length bound next to a value is 8 bytes and
// a length that stands for "unknown" is the size of an interface pointer.
#pragma once

#include <cstdint>

#include "database/drivers/ComRuntime.h"

namespace oledb {

using namespace com;

using DBTYPE = uint16_t;
using DBKIND = DWORD;
using DBPROPID = DWORD;
using DBPROPOPTIONS = DWORD;
using DBPROPSTATUS = DWORD;
using DBPART = DWORD;
using DBMEMOWNER = DWORD;
using DBPARAMIO = DWORD;
using DBSTATUS = DWORD;
using DBCOLUMNFLAGS = DWORD;
using DBPARAMFLAGS = DWORD;
using DBACCESSORFLAGS = DWORD;
using ISOLEVEL = LONG;
using DBLENGTH = uintptr_t;
using DBORDINAL = uintptr_t;
using DBBYTEOFFSET = uintptr_t;
using DBCOUNTITEM = uintptr_t;
using DBROWCOUNT = intptr_t;
using DBROWOFFSET = intptr_t;
using DB_UPARAMS = uintptr_t;
using HROW = uintptr_t;
using HACCESSOR = uintptr_t;
using HCHAPTER = uintptr_t;
using DBREFCOUNT = ULONG;

// Types.
inline constexpr DBTYPE DBTYPE_EMPTY = 0;
inline constexpr DBTYPE DBTYPE_NULL = 1;
inline constexpr DBTYPE DBTYPE_I2 = 2;
inline constexpr DBTYPE DBTYPE_I4 = 3;
inline constexpr DBTYPE DBTYPE_R4 = 4;
inline constexpr DBTYPE DBTYPE_R8 = 5;
inline constexpr DBTYPE DBTYPE_CY = 6;
inline constexpr DBTYPE DBTYPE_DATE = 7;
inline constexpr DBTYPE DBTYPE_BSTR = 8;
inline constexpr DBTYPE DBTYPE_IDISPATCH = 9;
inline constexpr DBTYPE DBTYPE_ERROR = 10;
inline constexpr DBTYPE DBTYPE_BOOL = 11;
inline constexpr DBTYPE DBTYPE_VARIANT = 12;
inline constexpr DBTYPE DBTYPE_IUNKNOWN = 13;
inline constexpr DBTYPE DBTYPE_DECIMAL = 14;
inline constexpr DBTYPE DBTYPE_I1 = 16;
inline constexpr DBTYPE DBTYPE_UI1 = 17;
inline constexpr DBTYPE DBTYPE_UI2 = 18;
inline constexpr DBTYPE DBTYPE_UI4 = 19;
inline constexpr DBTYPE DBTYPE_I8 = 20;
inline constexpr DBTYPE DBTYPE_UI8 = 21;
inline constexpr DBTYPE DBTYPE_GUID = 72;
inline constexpr DBTYPE DBTYPE_BYTES = 128;
inline constexpr DBTYPE DBTYPE_STR = 129;
inline constexpr DBTYPE DBTYPE_WSTR = 130;
inline constexpr DBTYPE DBTYPE_NUMERIC = 131;
inline constexpr DBTYPE DBTYPE_UDT = 132;
inline constexpr DBTYPE DBTYPE_DBDATE = 133;
inline constexpr DBTYPE DBTYPE_DBTIME = 134;
inline constexpr DBTYPE DBTYPE_DBTIMESTAMP = 135;
inline constexpr DBTYPE DBTYPE_VECTOR = 0x1000;
inline constexpr DBTYPE DBTYPE_ARRAY = 0x2000;
inline constexpr DBTYPE DBTYPE_BYREF = 0x4000;

// Bindings.
inline constexpr DBPART DBPART_VALUE = 1;
inline constexpr DBPART DBPART_LENGTH = 2;
inline constexpr DBPART DBPART_STATUS = 4;
inline constexpr DBMEMOWNER DBMEMOWNER_CLIENTOWNED = 0;
inline constexpr DBPARAMIO DBPARAMIO_NOTPARAM = 0;
inline constexpr DBPARAMIO DBPARAMIO_INPUT = 1;
inline constexpr DBPARAMIO DBPARAMIO_OUTPUT = 2;
inline constexpr DBACCESSORFLAGS DBACCESSOR_ROWDATA = 2;
inline constexpr DBACCESSORFLAGS DBACCESSOR_PARAMETERDATA = 4;
inline constexpr DBSTATUS DBSTATUS_S_OK = 0;
inline constexpr DBSTATUS DBSTATUS_E_BADACCESSOR = 1;
inline constexpr DBSTATUS DBSTATUS_E_CANTCONVERTVALUE = 2;
inline constexpr DBSTATUS DBSTATUS_S_ISNULL = 3;
inline constexpr DBSTATUS DBSTATUS_S_TRUNCATED = 4;
inline constexpr DBCOLUMNFLAGS DBCOLUMNFLAGS_ISFIXEDLENGTH = 0x10;
inline constexpr DBCOLUMNFLAGS DBCOLUMNFLAGS_ISNULLABLE = 0x20;
inline constexpr DBCOLUMNFLAGS DBCOLUMNFLAGS_MAYBENULL = 0x40;
inline constexpr DBCOLUMNFLAGS DBCOLUMNFLAGS_ISLONG = 0x80;
inline constexpr DBPARAMFLAGS DBPARAMFLAGS_ISINPUT = 0x1;
inline constexpr DBPARAMFLAGS DBPARAMFLAGS_ISOUTPUT = 0x2;
inline constexpr DBPARAMFLAGS DBPARAMFLAGS_ISNULLABLE = 0x40;
inline constexpr DBPARAMFLAGS DBPARAMFLAGS_ISLONG = 0x80;
// Stream objects bound for long data are opened for reading.
inline constexpr DWORD STGM_READ = 0;

// Properties.
inline constexpr DBPROPOPTIONS DBPROPOPTIONS_REQUIRED = 0;
inline constexpr DBPROPOPTIONS DBPROPOPTIONS_OPTIONAL = 1;
inline constexpr DBPROPSTATUS DBPROPSTATUS_OK = 0;
inline constexpr DBPROPSTATUS DBPROPSTATUS_NOTSUPPORTED = 1;
inline constexpr DBPROPSTATUS DBPROPSTATUS_BADVALUE = 2;
inline constexpr DBPROPSTATUS DBPROPSTATUS_NOTSETTABLE = 6;
inline constexpr DBPROPSTATUS DBPROPSTATUS_NOTSET = 7;

inline constexpr DBPROPID DBPROP_AUTH_INTEGRATED = 0x07;
inline constexpr DBPROPID DBPROP_AUTH_PASSWORD = 0x09;
inline constexpr DBPROPID DBPROP_AUTH_PERSIST_SENSITIVE_AUTHINFO = 0x0B;
inline constexpr DBPROPID DBPROP_AUTH_USERID = 0x0C;
inline constexpr DBPROPID DBPROP_COMMANDTIMEOUT = 0x22;
inline constexpr DBPROPID DBPROP_DBMSNAME = 0x28;
inline constexpr DBPROPID DBPROP_DBMSVER = 0x29;
inline constexpr DBPROPID DBPROP_INIT_DATASOURCE = 0x3B;
inline constexpr DBPROPID DBPROP_INIT_LOCATION = 0x3C;
inline constexpr DBPROPID DBPROP_INIT_TIMEOUT = 0x42;
inline constexpr DBPROPID DBPROP_OTHERINSERT = 0x57;
inline constexpr DBPROPID DBPROP_OTHERUPDATEDELETE = 0x58;
inline constexpr DBPROPID DBPROP_OWNINSERT = 0x59;
inline constexpr DBPROPID DBPROP_OWNUPDATEDELETE = 0x5A;
inline constexpr DBPROPID DBPROP_PREPAREABORTBEHAVIOR = 0x5B;
inline constexpr DBPROPID DBPROP_PREPARECOMMITBEHAVIOR = 0x5C;
inline constexpr DBPROPID DBPROP_PROVIDERVER = 0x62;
inline constexpr DBPROPID DBPROP_SERVERCURSOR = 0x6C;
inline constexpr DBPROPID DBPROP_SQLSUPPORT = 0x6D;
inline constexpr DBPROPID DBPROP_INIT_PROVIDERSTRING = 0xA0;
inline constexpr DBPROPID DBPROP_OUTPUTPARAMETERAVAILABILITY = 0xB8;
inline constexpr DBPROPID DBPROP_MULTIPLERESULTS = 0xC4;
inline constexpr DBPROPID DBPROP_IMultipleResults = 0xD9;
inline constexpr DBPROPID DBPROP_INIT_CATALOG = 0xE9;
inline constexpr DBPROPID DBPROP_PROVIDERFRIENDLYNAME = 0xEB;
inline constexpr DBPROPID DBPROP_MULTIPLECONNECTIONS = 0xED;
inline constexpr DBPROPID DBPROP_INIT_GENERALTIMEOUT = 0x11C;
inline constexpr DBPROPID DBPROP_SKIPROWCOUNTRESULTS = 0x123;
// SQL Server's own.
inline constexpr DBPROPID SSPROP_INIT_PACKETSIZE = 9;
inline constexpr DBPROPID SSPROP_INIT_APPNAME = 10;
inline constexpr DBPROPID SSPROP_DEFERPREPARE = 13;

// Values of properties.
inline constexpr LONG DBPROPVAL_SQL_ODBC_MINIMUM = 0x01;
inline constexpr LONG DBPROPVAL_SQL_ANSI92_INTERMEDIATE = 0x40;
inline constexpr LONG DBPROPVAL_SQL_ESCAPECLAUSES = 0x100;
inline constexpr LONG DBPROPVAL_OA_NOTSUPPORTED = 1;
inline constexpr LONG DBPROPVAL_OA_ATEXECUTE = 2;
inline constexpr LONG DBPROPVAL_OA_ATROWRELEASE = 4;
inline constexpr LONG DBPROPVAL_CB_DELETE = 1;
inline constexpr LONG DBPROPVAL_CB_PRESERVE = 2;

// Transactions.
inline constexpr ISOLEVEL ISOLATIONLEVEL_READUNCOMMITTED = 0x100;
inline constexpr ISOLEVEL ISOLATIONLEVEL_READCOMMITTED = 0x1000;
inline constexpr ISOLEVEL ISOLATIONLEVEL_REPEATABLEREAD = 0x10000;
inline constexpr ISOLEVEL ISOLATIONLEVEL_SERIALIZABLE = 0x100000;
inline constexpr DWORD XACTTC_SYNC = 2;

// Results.
inline constexpr HRESULT DB_S_ENDOFROWSET = 0x00040EC6;
inline constexpr HRESULT DB_S_NORESULT = 0x00040EC9;
inline constexpr HRESULT DB_S_ERRORSOCCURRED = 0x00040EDA;
inline constexpr HRESULT DB_E_BADACCESSORHANDLE = int32_t(0x80040E00u);
inline constexpr HRESULT DB_E_BADROWHANDLE = int32_t(0x80040E04u);
inline constexpr HRESULT DB_E_CANTCONVERTVALUE = int32_t(0x80040E07u);
inline constexpr HRESULT DB_E_BADBINDINFO = int32_t(0x80040E08u);
inline constexpr HRESULT DB_E_NOCOMMAND = int32_t(0x80040E0Cu);
inline constexpr HRESULT DB_E_PARAMNOTOPTIONAL = int32_t(0x80040E10u);
inline constexpr HRESULT DB_E_ERRORSINCOMMAND = int32_t(0x80040E14u);
inline constexpr HRESULT DB_E_ERRORSOCCURRED = int32_t(0x80040E21u);
inline constexpr HRESULT DB_E_NOTABLE = int32_t(0x80040E37u);
inline constexpr HRESULT DB_E_NOTSUPPORTED = int32_t(0x80040E53u);
inline constexpr HRESULT XACT_E_NOTRANSACTION = int32_t(0x8004D00Eu);

// Property sets, dialects and schema rowsets.
inline constexpr GUID DBPROPSET_DATASOURCE{
    0xC8B522BA, 0x5CF3, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline constexpr GUID DBPROPSET_DATASOURCEINFO{
    0xC8B522BB, 0x5CF3, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline constexpr GUID DBPROPSET_DBINIT{
    0xC8B522BC, 0x5CF3, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline constexpr GUID DBPROPSET_ROWSET{
    0xC8B522BE, 0x5CF3, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline constexpr GUID DBPROPSET_SQLSERVERDBINIT{
    0x5CF4CA10, 0xEF21, 0x11D0, {0x97, 0xE7, 0x00, 0xC0, 0x4F, 0xC2, 0xAD, 0x98}};
inline constexpr GUID DBPROPSET_SQLSERVERROWSET{
    0x5CF4CA11, 0xEF21, 0x11D0, {0x97, 0xE7, 0x00, 0xC0, 0x4F, 0xC2, 0xAD, 0x98}};
inline constexpr GUID DBGUID_DBSQL{
    0xC8B521FB, 0x5CF3, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline constexpr GUID DBSCHEMA_COLUMNS{
    0xC8B52214, 0x5CF3, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline constexpr GUID DBSCHEMA_INDEXES{
    0xC8B5221E, 0x5CF3, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline constexpr GUID DBSCHEMA_PROCEDURES{
    0xC8B52224, 0x5CF3, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline constexpr GUID DBSCHEMA_TABLES{
    0xC8B52229, 0x5CF3, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
inline constexpr GUID DBSCHEMA_PROCEDURE_PARAMETERS{
    0xC8B522B8, 0x5CF3, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};

// Records.
inline constexpr DBKIND DBKIND_GUID_NAME = 0;
inline constexpr DBKIND DBKIND_GUID_PROPID = 1;
inline constexpr DBKIND DBKIND_NAME = 2;
struct DBID {
    GUID uGuid;
    DBKIND eKind;
    union {
        OLECHAR* pwszName;
        ULONG ulPropid;
    } uName;
};
// The column id of a property that applies to no column.
inline constexpr DBID DB_NULLID{GUID_NULL, DBKIND_GUID_PROPID, {nullptr}};

struct DBPROP {
    DBPROPID dwPropertyID;
    DBPROPOPTIONS dwOptions;
    DBPROPSTATUS dwStatus;
    DBID colid;
    VARIANT vValue;
};

struct DBPROPSET {
    DBPROP* rgProperties;
    ULONG cProperties;
    GUID guidPropertySet;
};

struct DBPROPIDSET {
    DBPROPID* rgPropertyIDs;
    ULONG cPropertyIDs;
    GUID guidPropertySet;
};

struct DBOBJECT {
    DWORD dwFlags;
    IID iid;
};

struct DBBINDING {
    DBORDINAL iOrdinal;
    DBBYTEOFFSET obValue;
    DBBYTEOFFSET obLength;
    DBBYTEOFFSET obStatus;
    void* pTypeInfo;
    DBOBJECT* pObject;
    void* pBindExt;
    DBPART dwPart;
    DBMEMOWNER dwMemOwner;
    DBPARAMIO eParamIO;
    DBLENGTH cbMaxLen;
    DWORD dwFlags;
    DBTYPE wType;
    uint8_t bPrecision;
    uint8_t bScale;
};

struct DBCOLUMNINFO {
    OLECHAR* pwszName;
    void* pTypeInfo;
    DBORDINAL iOrdinal;
    DBCOLUMNFLAGS dwFlags;
    DBLENGTH ulColumnSize;
    DBTYPE wType;
    uint8_t bPrecision;
    uint8_t bScale;
    DBID columnid;
};

struct DBPARAMS {
    void* pData;
    DB_UPARAMS cParamSets;
    HACCESSOR hAccessor;
};

struct DBPARAMBINDINFO {
    OLECHAR* pwszDataSourceType;
    OLECHAR* pwszName;
    DBLENGTH ulParamSize;
    DBPARAMFLAGS dwFlags;
    uint8_t bPrecision;
    uint8_t bScale;
};

struct DBDATE {
    int16_t year;
    uint16_t month;
    uint16_t day;
};

struct DBTIME {
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
};

struct DBTIMESTAMP {
    int16_t year;
    uint16_t month;
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint32_t fraction;  // billionths of a second
};

struct ERRORINFO {
    HRESULT hrError;
    DWORD dwMinor;
    CLSID clsid;
    IID iid;
    LONG dispid;
};

struct SSERRORINFO {
    OLECHAR* pwszMessage;
    OLECHAR* pwszServer;
    OLECHAR* pwszProcedure;
    LONG lNative;
    uint8_t bState;
    uint8_t bClass;
    uint16_t wLineNumber;
};

// Interfaces. Each keeps the destructor protected: objects go with their last Release.
#define KW_OLEDB_INTERFACE_END(Name) \
protected:                           \
    ~Name() = default;

class IDBInitialize : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A8B, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT Initialize() = 0;
    virtual HRESULT Uninitialize() = 0;
    KW_OLEDB_INTERFACE_END(IDBInitialize)
};

class IDBProperties : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A8A, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT GetProperties(ULONG cPropertyIDSets, const DBPROPIDSET* rgPropertyIDSets,
                                  ULONG* pcPropertySets, DBPROPSET** prgPropertySets) = 0;
    virtual HRESULT GetPropertyInfo(ULONG cPropertyIDSets, const DBPROPIDSET* rgPropertyIDSets,
                                    ULONG* pcPropertyInfoSets, void** prgPropertyInfoSets,
                                    OLECHAR** ppDescBuffer) = 0;
    virtual HRESULT SetProperties(ULONG cPropertySets, DBPROPSET* rgPropertySets) = 0;
    KW_OLEDB_INTERFACE_END(IDBProperties)
};

class IDBCreateSession : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A5D, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT CreateSession(IUnknown* pUnkOuter, const IID& riid, IUnknown** ppDBSession) = 0;
    KW_OLEDB_INTERFACE_END(IDBCreateSession)
};

class IDBCreateCommand : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A1D, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT CreateCommand(IUnknown* pUnkOuter, const IID& riid, IUnknown** ppCommand) = 0;
    KW_OLEDB_INTERFACE_END(IDBCreateCommand)
};

class IGetDataSource : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A75, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT GetDataSource(const IID& riid, IUnknown** ppDataSource) = 0;
    KW_OLEDB_INTERFACE_END(IGetDataSource)
};

class ITransaction : public IUnknown {
public:
    static constexpr IID kIID{0x0FB15084, 0xAF41, 0x11CE, {0xBD, 0x2B, 0x20, 0x4C, 0x4F, 0x4F, 0x50, 0x20}};
    virtual HRESULT Commit(int32_t fRetaining, DWORD grfTC, DWORD grfRM) = 0;
    virtual HRESULT Abort(void* pboidReason, int32_t fRetaining, int32_t fAsync) = 0;
    virtual HRESULT GetTransactionInfo(void* pinfo) = 0;
    KW_OLEDB_INTERFACE_END(ITransaction)
};

class ITransactionLocal : public ITransaction {
public:
    static constexpr IID kIID{0x0C733A5F, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT GetOptionsObject(IUnknown** ppOptions) = 0;
    virtual HRESULT StartTransaction(ISOLEVEL isoLevel, ULONG isoFlags, IUnknown* pOtherOptions,
                                     ULONG* pulTransactionLevel) = 0;
    KW_OLEDB_INTERFACE_END(ITransactionLocal)
};

class ICommand : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A63, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT Cancel() = 0;
    virtual HRESULT Execute(IUnknown* pUnkOuter, const IID& riid, DBPARAMS* pParams,
                            DBROWCOUNT* pcRowsAffected, IUnknown** ppRowset) = 0;
    virtual HRESULT GetDBSession(const IID& riid, IUnknown** ppSession) = 0;
    KW_OLEDB_INTERFACE_END(ICommand)
};

class ICommandText : public ICommand {
public:
    static constexpr IID kIID{0x0C733A27, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT GetCommandText(GUID* pguidDialect, OLECHAR** ppwszCommand) = 0;
    virtual HRESULT SetCommandText(const GUID& rguidDialect, const OLECHAR* pwszCommand) = 0;
    KW_OLEDB_INTERFACE_END(ICommandText)
};

class ICommandPrepare : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A26, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT Prepare(ULONG cExpectedRuns) = 0;
    virtual HRESULT Unprepare() = 0;
    KW_OLEDB_INTERFACE_END(ICommandPrepare)
};

class ICommandProperties : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A79, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT GetProperties(ULONG cPropertyIDSets, const DBPROPIDSET* rgPropertyIDSets,
                                  ULONG* pcPropertySets, DBPROPSET** prgPropertySets) = 0;
    virtual HRESULT SetProperties(ULONG cPropertySets, DBPROPSET* rgPropertySets) = 0;
    KW_OLEDB_INTERFACE_END(ICommandProperties)
};

class ICommandWithParameters : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A64, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT GetParameterInfo(DB_UPARAMS* pcParams, void** prgParamInfo, OLECHAR** ppNamesBuffer) = 0;
    virtual HRESULT MapParameterNames(DB_UPARAMS cParamNames, const OLECHAR* rgParamNames[],
                                      intptr_t rgParamOrdinals[]) = 0;
    virtual HRESULT SetParameterInfo(DB_UPARAMS cParams, const DB_UPARAMS rgParamOrdinals[],
                                     const DBPARAMBINDINFO rgParamBindInfo[]) = 0;
    KW_OLEDB_INTERFACE_END(ICommandWithParameters)
};

class IAccessor : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A8C, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT AddRefAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) = 0;
    virtual HRESULT CreateAccessor(DBACCESSORFLAGS dwAccessorFlags, DBCOUNTITEM cBindings,
                                   const DBBINDING rgBindings[], DBLENGTH cbRowSize, HACCESSOR* phAccessor,
                                   DBSTATUS rgStatus[]) = 0;
    virtual HRESULT GetBindings(HACCESSOR hAccessor, DBACCESSORFLAGS* pdwAccessorFlags,
                                DBCOUNTITEM* pcBindings, DBBINDING** prgBindings) = 0;
    virtual HRESULT ReleaseAccessor(HACCESSOR hAccessor, DBREFCOUNT* pcRefCount) = 0;
    KW_OLEDB_INTERFACE_END(IAccessor)
};

class IColumnsInfo : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A11, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT GetColumnInfo(DBORDINAL* pcColumns, DBCOLUMNINFO** prgInfo,
                                  OLECHAR** ppStringsBuffer) = 0;
    virtual HRESULT MapColumnIDs(DBORDINAL cColumnIDs, const DBID rgColumnIDs[], DBORDINAL rgColumns[]) = 0;
    KW_OLEDB_INTERFACE_END(IColumnsInfo)
};

class IRowset : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A7C, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT AddRefRows(DBCOUNTITEM cRows, const HROW rghRows[], DBREFCOUNT rgRefCounts[],
                               DBSTATUS rgRowStatus[]) = 0;
    virtual HRESULT GetData(HROW hRow, HACCESSOR hAccessor, void* pData) = 0;
    virtual HRESULT GetNextRows(HCHAPTER hReserved, DBROWOFFSET lRowsOffset, DBROWCOUNT cRows,
                                DBCOUNTITEM* pcRowsObtained, HROW** prghRows) = 0;
    virtual HRESULT ReleaseRows(DBCOUNTITEM cRows, const HROW rghRows[], void* rgRowOptions,
                                DBREFCOUNT rgRefCounts[], DBSTATUS rgRowStatus[]) = 0;
    virtual HRESULT RestartPosition(HCHAPTER hReserved) = 0;
    KW_OLEDB_INTERFACE_END(IRowset)
};

class IMultipleResults : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A90, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT GetResult(IUnknown* pUnkOuter, intptr_t lResultFlag, const IID& riid,
                              DBROWCOUNT* pcRowsAffected, IUnknown** ppRowset) = 0;
    KW_OLEDB_INTERFACE_END(IMultipleResults)
};

class IDBSchemaRowset : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A7B, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT GetRowset(IUnknown* pUnkOuter, const GUID& rguidSchema, ULONG cRestrictions,
                              const VARIANT rgRestrictions[], const IID& riid, ULONG cPropertySets,
                              DBPROPSET rgPropertySets[], IUnknown** ppRowset) = 0;
    virtual HRESULT GetSchemas(ULONG* pcSchemas, GUID** prgSchemas, ULONG** prgRestrictionSupport) = 0;
    KW_OLEDB_INTERFACE_END(IDBSchemaRowset)
};

class ISequentialStream : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A30, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
    KW_OLEDB_INTERFACE_END(ISequentialStream)
};

class IErrorRecords : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A67, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT AddErrorRecord(ERRORINFO* pErrorInfo, DWORD dwLookupID, void* pdispparams,
                                   IUnknown* punkCustomError, DWORD dwDynamicErrorID) = 0;
    virtual HRESULT GetBasicErrorInfo(ULONG ulRecordNum, ERRORINFO* pErrorInfo) = 0;
    virtual HRESULT GetCustomErrorObject(ULONG ulRecordNum, const IID& riid, IUnknown** ppObject) = 0;
    virtual HRESULT GetErrorInfo(ULONG ulRecordNum, LCID lcid, IErrorInfo** ppErrorInfo) = 0;
    virtual HRESULT GetErrorParameters(ULONG ulRecordNum, void* pdispparams) = 0;
    virtual HRESULT GetRecordCount(ULONG* pcRecords) = 0;
    KW_OLEDB_INTERFACE_END(IErrorRecords)
};

class ISQLErrorInfo : public IUnknown {
public:
    static constexpr IID kIID{0x0C733A74, 0x2A1C, 0x11CE, {0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D}};
    virtual HRESULT GetSQLInfo(BSTR* pbstrSQLState, LONG* plNativeError) = 0;
    KW_OLEDB_INTERFACE_END(ISQLErrorInfo)
};

class ISQLServerErrorInfo : public IUnknown {
public:
    static constexpr IID kIID{0x5CF4CA12, 0xEF21, 0x11D0, {0x97, 0xE7, 0x00, 0xC0, 0x4F, 0xC2, 0xAD, 0x98}};
    virtual HRESULT GetErrorInfo(SSERRORINFO** ppErrorInfo, OLECHAR** ppStringsBuffer) = 0;
    KW_OLEDB_INTERFACE_END(ISQLServerErrorInfo)
};

// The data-link object's interface.
class IDataInitialize : public IUnknown {
public:
    static constexpr IID kIID{0x2206CCB1, 0x19C1, 0x11D1, {0x89, 0xE0, 0x00, 0xC0, 0x4F, 0xD7, 0xA8, 0x29}};
    virtual HRESULT GetDataSource(IUnknown* pUnkOuter, DWORD dwClsCtx,
                                  const OLECHAR* pwszInitializationString, const IID& riid,
                                  IUnknown** ppDataSource) = 0;
    virtual HRESULT GetInitializationString(IUnknown* pDataSource, uint8_t fIncludePassword,
                                            OLECHAR** ppwszInitString) = 0;
    virtual HRESULT CreateDBInstance(const CLSID& clsidProvider, IUnknown* pUnkOuter, DWORD dwClsCtx,
                                     OLECHAR* pwszReserved, const IID& riid, IUnknown** ppDataSource) = 0;
    virtual HRESULT CreateDBInstanceEx(const CLSID& clsidProvider, IUnknown* pUnkOuter, DWORD dwClsCtx,
                                       OLECHAR* pwszReserved, void* pServerInfo, ULONG cmq,
                                       void* rgmqResults) = 0;
    virtual HRESULT LoadStringFromStorage(const OLECHAR* pwszFileName,
                                          OLECHAR** ppwszInitializationString) = 0;
    virtual HRESULT WriteStringToStorage(const OLECHAR* pwszFileName, const OLECHAR* pwszInitializationString,
                                         DWORD dwCreationDisposition) = 0;
    KW_OLEDB_INTERFACE_END(IDataInitialize)
};

#undef KW_OLEDB_INTERFACE_END

}  // namespace oledb
