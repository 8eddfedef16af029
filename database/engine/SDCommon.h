// database/engine/SDCommon.h: the driver layer of the SQL access library (unit SDCommon), its
// connection side.
//
// Every server driver subclasses TISqlDatabase once: the dataset engine (SDEngine) creates a
// driver connection through its factory table and from then on talks to the server only
// through the virtual operations here and through the driver command TISqlCommand
// (SDCommonCommand.h), which the connection creates. The driver talks back through the three
// call-backs the engine stores in the object (error, end wait cursor, activity).
//
// The unit is split over several files, all part of SDCommon:
//   SDCommon.h            server types, errors, version numbers, date-time records,
//                         TISqlDatabase (this file)
//   SDCommonCommand.h     TISqlCommand, its buffers and the field descriptions
//   SDCommonBuffers.h     raw cell buffers, blob slots, field-type predicates
//   SDCommonValues.h      text-to-value conversions, value comparisons, hex and GUID texts
//   SDCommonLibrary.h     client-library loading, workstation names
//   SDCommonTrace.h       the SQL trace hooks (no sink is installed in this system)
//   SDCommonSqlText.h     SQL text analysis and the SQL tokenizer
//   SDCommonUpdateSql.h   generated update statements and column origins
//
// What must stay true: the engine calls only the wrappers (Connect, Disconnect,
// StartTransaction, Commit, Rollback); drivers implement the Do... operations they wrap and
// report every failure through HandleError, which never returns.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "database/engine/SDCommonBuffers.h"
#include "rtl/Component.h"
#include "rtl/DatabaseError.h"
#include "rtl/DateTime.h"
#include "rtl/StringList.h"

class TISqlCommand;
struct TSDFieldDesc;
struct TISqlCommandDeleter {
    void operator()(TISqlCommand* command) const noexcept;
};
// A driver command; destroying it disconnects it (Force) before anything is freed.
using TISqlCommandPtr = std::unique_ptr<TISqlCommand, TISqlCommandDeleter>;

enum TSDServerType : int32_t {
    stSQLBase = 0,
    stOracle = 1,
    stSQLServer = 2,
    stSybase = 3,
    stDB2 = 4,
    stInformix = 5,
    stODBC = 6,
    stInterbase = 7,
    stFirebird = 8,
    stMySQL = 9,
    stPostgreSQL = 10,
    stOLEDB = 11,
};
inline constexpr int kServerTypeCount = 12;

enum TSDTransIsolation : int32_t { tiDirtyRead = 0, tiReadCommitted = 1, tiRepeatableRead = 2 };

// Kinds of catalog query (TISqlDatabase::GetSchemaInfo).
enum TSDSchemaType : int32_t {
    stTables = 0,
    stSysTables = 1,
    stProcedures = 2,
    stColumns = 3,
    stProcedureParams = 4,
    stIndexes = 5,
};

// The library's resource texts used by more than one unit.
inline constexpr const char* SFuncNotImplemented = "Function %s not implemented";
inline constexpr const char* STrueString = "TRUE";
inline constexpr const char* SFalseString = "FALSE";

// A server or client-library failure reported by a driver. NativeError keeps all 32 bits of
// the server's error number. Raise() throws the object as its own class, so a handler that
// receives it as ESDEngineError can pass on the driver's subclass; declare subclasses with
// SD_ENGINE_ERROR, which makes them raise as themselves and gives them their own
// CreateWithPos.
class ESDEngineError : public rtl::EDatabaseError {
public:
    // ErrorPos becomes -1.
    ESDEngineError(int32_t errorCode, int32_t nativeError, std::string message, bool connectionLost);
    ESDEngineError(int32_t errorCode, int32_t nativeError, std::string message, int32_t errorPos,
                   bool connectionLost);
    static ESDEngineError CreateWithPos(int32_t errorCode, int32_t nativeError, std::string message,
                                        int32_t errorPos, bool connectionLost) {
        return ESDEngineError(errorCode, nativeError, std::move(message), errorPos, connectionLost);
    }

    const char* ClassName() const noexcept override { return "ESDEngineError"; }
    // Throws the object as its own class.
    [[noreturn]] void Raise() const {
        RaiseAsOwnClass();
        throw *this;  // reached only if a subclass's override did not throw
    }

    int32_t NativeError;
    int32_t ErrorCode;
    int32_t ErrorPos;
    bool ConnectionLost;

protected:
    virtual void RaiseAsOwnClass() const { throw *this; }
};

#define SD_ENGINE_ERROR(Name, Base)                                                              \
    class Name : public Base {                                                                   \
        using InheritedEngineError = Base;                                                       \
                                                                                                 \
    public:                                                                                      \
        using InheritedEngineError::InheritedEngineError;                                        \
        /* Hides the base's factory, which would give the base class and lose the driver's; */   \
        /* a template, so that a class whose base has other constructors compiles until used. */ \
        template <typename Self = Name>                                                          \
        static Self CreateWithPos(int32_t errorCode, int32_t nativeError, std::string message,   \
                                  int32_t errorPos, bool connectionLost) {                       \
            return Self(errorCode, nativeError, std::move(message), errorPos, connectionLost);   \
        }                                                                                        \
        const char* ClassName() const noexcept override { return #Name; }                        \
                                                                                                 \
    protected:                                                                                   \
        void RaiseAsOwnClass() const override { throw *this; }                                   \
    }

// A client library that cannot be loaded, initialised or released.
RTL_EXCEPTION(ESDSqlLibError, rtl::EDatabaseError);

// Version numbers: major in the high 16 bits, minor in the low 16 bits (8.1 = 8*65536 + 1).
int32_t MakeVersionNumber(int32_t major, int32_t minor);
int32_t GetVersionMajor(int32_t version);
int32_t GetVersionMinor(int32_t version);
// "8.1.7.0" gives 8.1, "Release 9.2.0.1.0" 9.2, "12" 0.12, "" 0.0.
int32_t ParseVersionNumber(const std::string& text);

// "SQLBase", "Oracle", ..., "OLEDB"; "" outside the twelve.
std::string GetServerTypeName(int serverType);
// "<name> API LIBRARY", the parameter that replaces a driver's client-library file name;
// "" for a value outside the twelve server types.
std::string GetApiLibraryParamName(int serverType);

// The field types a server keeps in blob slots instead of row cells.
bool IsBlobFieldType(TSDServerType serverType, TFieldType fieldType);

// A date-time record of the given field type as the class library's date-time; a plain
// rtl::Exception "Unknown data type in function DateTimeRecToDateTime" for another type and
// rtl::EConvertError for a day number of 0 or below.
rtl::TDateTime DateTimeRecToDateTime(TFieldType fieldType, const TSDDateTimeRec& rec);

// The driver connection.
class TISqlDatabase {
public:
    using TSDErrorProc = std::function<void(TISqlDatabase& sender, const ESDEngineError& e)>;
    using TSDNotifyProc = std::function<void(TISqlDatabase& sender)>;

    // Keeps the owner, copies the parameters and reads the options below. serverType is what
    // GetServerType answers from construction on (SingleConnection depends on it).
    TISqlDatabase(rtl::Component* owner, const rtl::StringList& params, TSDServerType serverType);
    // Drivers release their native resources in their own destructors.
    virtual ~TISqlDatabase();
    TISqlDatabase(const TISqlDatabase&) = delete;
    TISqlDatabase& operator=(const TISqlDatabase&) = delete;

    // Virtual operations in slot order.
    virtual void DoEndWaitCursor();
    virtual void DoMarkActivity();

protected:
    virtual void DoConnect(const std::string& remoteDatabase, const std::string& userName,
                           const std::string& password) = 0;
    // Force: the connection may be broken; skip the calls that would fail on it.
    virtual void DoDisconnect(bool force) = 0;
    virtual void DoCommit() = 0;
    virtual void DoRollback() = 0;
    virtual void DoStartTransaction() = 0;

public:
    // The native connection handle; the engine counts the driver as connected exactly when
    // this is not nullptr.
    virtual void* GetHandle();
    virtual void SetAutoCommitOption(bool value);
    virtual void SetHandle(void* handle);
    virtual TISqlCommandPtr CreateSqlCommand(rtl::Component* ownerDataSet) = 0;
    virtual std::string GetIdentityQuery();
    virtual int32_t GetClientVersion() = 0;
    virtual int32_t GetServerVersion() = 0;
    virtual std::string GetVersionString() = 0;
    virtual TSDServerType GetServerType() const;
    virtual void GetStoredProcNames(rtl::StringList& list);
    virtual void GetTableNames(const std::string& pattern, bool systemTables, rtl::StringList& list);
    virtual void GetTableFieldNames(const std::string& tableName, rtl::StringList& list);
    // A new command holding the catalog query of that kind, or nullptr for a kind the driver
    // does not support; the caller owns it.
    virtual TISqlCommandPtr GetSchemaInfo(TSDSchemaType kind, const std::string& objectName);
    virtual void Connect(const std::string& remoteDatabase, const std::string& userName,
                         const std::string& password);
    virtual void Disconnect(bool force);
    virtual bool TestConnected() = 0;
    virtual void Commit();
    virtual void Rollback();
    virtual void StartTransaction();
    virtual int32_t ParamValue(int32_t index);
    virtual void SetTransIsolation(TSDTransIsolation value);
    virtual bool SPDescriptionsAvailable();
    // The condition with which a generated statement finds a row again by the value this
    // driver read from a column (marker: the parameter that carries that value). The base
    // compares the column with "=", which is right where the engine holds the value exactly as
    // the server keeps it. A driver whose server keeps a column more finely than the engine
    // (time stamps past the millisecond, single-precision floats, exact numerics read as
    // doubles) compares at the precision the engine holds instead: the row read is then found
    // again, and only a change the engine can see misses it.
    virtual std::string OldValueCondition(const TSDFieldDesc& desc, const std::string& column,
                                          const std::string& marker);

    // Call DoMarkActivity / DoEndWaitCursor. Drivers mark activity after every client-library
    // call and end the wait cursor before they report an error.
    void MarkActivity() { DoMarkActivity(); }
    void EndWaitCursor() { DoEndWaitCursor(); }
    // The one way a driver reports a failure: keeps the message for the trace, passes E to
    // ErrorProc (which raises it after the engine's lost-connection handling) and raises E
    // itself when there is no ErrorProc or ErrorProc returned.
    [[noreturn]] void HandleError(const ESDEngineError& e);

    rtl::Component* Owner;
    bool EnableBCD = false;
    bool RTrimCharOutput = true;
    bool SingleConnection = false;
    // MaxFieldNameLen and BlobPieceSize are at least 1 (a smaller parameter gives the default).
    int32_t MaxFieldNameLen = 70;
    int32_t MaxStringSize = 255;
    int32_t BlobPieceSize = 32752;
    int32_t PrefetchRows = 1;
    rtl::StringList Params;
    TSDTransIsolation TransIsolation = tiDirtyRead;
    bool InTransaction = false;
    TSDErrorProc ErrorProc;
    TSDNotifyProc EndWaitCursorProc;
    TSDNotifyProc ActivityProc;
    // The driver keeps the server's own auto-commit setting when it connects and sends none
    // (also known as AutoCommitFromServer); when False it sets the server's to AutoCommit.
    bool AutoCommitDefault = true;
    bool AutoCommit = true;
    // Capabilities a driver sets after connecting: whether open cursors survive starting,
    // committing and rolling back a transaction (the KeepsCursorsOn... flags), and whether
    // owner-qualified table names work (OwnerQualifiedNames).
    bool CursorPreservedOnStart = true;
    bool CursorPreservedOnCommit = true;
    bool CursorPreservedOnRollback = true;
    bool SchemaNamesSupported = true;
    // The server can answer a statement with several result sets (drivers that can set it).
    bool MultipleResultSets = false;

protected:
    // Raises the stub failure "Function %s not implemented" with the qualified name.
    [[noreturn]] static void NotImplemented(const char* qualifiedName);

private:
    TSDServerType serverType_;
};
