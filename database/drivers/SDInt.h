// database/drivers/SDInt.h: the SQL library's driver for InterBase (unit SDInt, server type
// stInterbase), and the common ground of the InterBase family on which the Firebird driver
// (SDFib) stands.
//
// The driver binds the InterBase client API (the isc_ functions) by name at run time, once per
// process per binding: this unit's binding loads "libfbclient.so.2" unless the parameter
// "Interbase API LIBRARY" names another file (no InterBase client exists here; the Firebird
// client has the same calls). A connection attaches with a database parameter block (DPB),
// keeps one server transaction open for its whole life (started with a transaction parameter
// block, TPB, that carries the auto-commit byte while no explicit transaction runs) and checks
// every call's status vector. Commands prepare statements, describe their columns through
// XSQLDA descriptors and bind the descriptors' data and indicator addresses straight into the
// engine's parameter and row buffers, so the client writes each fetched row where the engine
// reads it.
//
// What must stay true:
//   - every client call that returns a status goes through the status check, which turns a
//     failure into the binding's error class (ESDIntError, ESDFibError) passed to the engine's
//     handling, with the connection-lost flag for the codes of a broken link; SQL code -501
//     (a cursor closed twice) raises nothing;
//   - DPB items carry one length byte: an item that does not fit is refused before anything
//     is sent, never cut or wrapped;
//   - descriptors point into buffers the command owns for as long as the statement may use
//     them; freeing a row buffer frees the descriptor that points into it first;
//   - names and patterns pasted into catalog statements are quoted literals;
//   - the cells' 16-bit length words assume a little-endian machine (asserted below).
// Types and layouts (status vector words, handles, XSQLDA) come from the client's own header
// (ibase.h); the TEB and InterBase 7's version-2 descriptor entry, which it lacks, are declared
// here in the same terms. Nothing links against the client.
#pragma once

#include <ibase.h>

#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "database/drivers/SDClientLibrary.h"
#include "database/engine/SDCommon.h"
#include "database/engine/SDCommonCommand.h"

static_assert(std::endian::native == std::endian::little,
              "the cells keep a TEXT or VARYING length in the upper half of their length word");

SD_ENGINE_ERROR(ESDIntError, ESDEngineError);

// isc_interprete is deprecated in the header (fb_interpret is its bounded successor); its
// type is spelled out so that naming it does not warn.
using TIscInterprete = ISC_LONG (*)(ISC_SCHAR*, ISC_STATUS**);

// clang-format off
// The client's entries in binding order: name, whether a library must have it, its type.
// fb_interpret comes last: a Firebird client's bounded form of isc_interprete, used when the
// client has it.
#define KW_INT_ENTRY_POINTS(X) \
    X(isc_attach_database, true, decltype(&::isc_attach_database)) \
    X(isc_blob_default_desc, false, decltype(&::isc_blob_default_desc)) \
    X(isc_blob_gen_bpb, false, decltype(&::isc_blob_gen_bpb)) \
    X(isc_blob_info, true, decltype(&::isc_blob_info)) \
    X(isc_blob_lookup_desc, false, decltype(&::isc_blob_lookup_desc)) \
    X(isc_blob_set_desc, false, decltype(&::isc_blob_set_desc)) \
    X(isc_cancel_blob, false, decltype(&::isc_cancel_blob)) \
    X(isc_cancel_events, false, decltype(&::isc_cancel_events)) \
    X(isc_close_blob, true, decltype(&::isc_close_blob)) \
    X(isc_commit_transaction, true, decltype(&::isc_commit_transaction)) \
    X(isc_commit_retaining, true, decltype(&::isc_commit_retaining)) \
    X(isc_create_blob, true, decltype(&::isc_create_blob)) \
    X(isc_create_blob2, true, decltype(&::isc_create_blob2)) \
    X(isc_create_database, true, decltype(&::isc_create_database)) \
    X(isc_database_info, false, decltype(&::isc_database_info)) \
    X(isc_detach_database, true, decltype(&::isc_detach_database)) \
    X(isc_drop_database, false, decltype(&::isc_drop_database)) \
    X(isc_dsql_allocate_statement, true, decltype(&::isc_dsql_allocate_statement)) \
    X(isc_dsql_alloc_statement2, false, decltype(&::isc_dsql_alloc_statement2)) \
    X(isc_dsql_describe, true, decltype(&::isc_dsql_describe)) \
    X(isc_dsql_describe_bind, true, decltype(&::isc_dsql_describe_bind)) \
    X(isc_dsql_execute, true, decltype(&::isc_dsql_execute)) \
    X(isc_dsql_execute2, true, decltype(&::isc_dsql_execute2)) \
    X(isc_dsql_execute_immediate, false, decltype(&::isc_dsql_execute_immediate)) \
    X(isc_dsql_exec_immed2, false, decltype(&::isc_dsql_exec_immed2)) \
    X(isc_dsql_fetch, true, decltype(&::isc_dsql_fetch)) \
    X(isc_dsql_finish, false, decltype(&::isc_dsql_finish)) \
    X(isc_dsql_free_statement, true, decltype(&::isc_dsql_free_statement)) \
    X(isc_dsql_prepare, true, decltype(&::isc_dsql_prepare)) \
    X(isc_dsql_set_cursor_name, false, decltype(&::isc_dsql_set_cursor_name)) \
    X(isc_dsql_sql_info, true, decltype(&::isc_dsql_sql_info)) \
    X(isc_event_counts, false, decltype(&::isc_event_counts)) \
    X(isc_get_segment, true, decltype(&::isc_get_segment)) \
    X(isc_interprete, true, TIscInterprete) \
    X(isc_open_blob, true, decltype(&::isc_open_blob)) \
    X(isc_open_blob2, true, decltype(&::isc_open_blob2)) \
    X(isc_prepare_transaction, false, decltype(&::isc_prepare_transaction)) \
    X(isc_prepare_transaction2, false, decltype(&::isc_prepare_transaction2)) \
    X(isc_print_sqlerror, false, decltype(&::isc_print_sqlerror)) \
    X(isc_print_status, false, decltype(&::isc_print_status)) \
    X(isc_put_segment, true, decltype(&::isc_put_segment)) \
    X(isc_rollback_transaction, true, decltype(&::isc_rollback_transaction)) \
    X(isc_rollback_retaining, false, decltype(&::isc_rollback_retaining)) \
    X(isc_start_multiple, true, decltype(&::isc_start_multiple)) \
    X(isc_start_transaction, true, decltype(&::isc_start_transaction)) \
    X(isc_sqlcode, true, decltype(&::isc_sqlcode)) \
    X(isc_sql_interprete, true, decltype(&::isc_sql_interprete)) \
    X(isc_transaction_info, false, decltype(&::isc_transaction_info)) \
    X(isc_vax_integer, true, decltype(&::isc_vax_integer)) \
    X(isc_version, true, decltype(&::isc_version)) \
    X(isc_decode_date, true, decltype(&::isc_decode_date)) \
    X(isc_encode_date, true, decltype(&::isc_encode_date)) \
    X(isc_decode_sql_date, false, decltype(&::isc_decode_sql_date)) \
    X(isc_decode_sql_time, false, decltype(&::isc_decode_sql_time)) \
    X(isc_decode_timestamp, false, decltype(&::isc_decode_timestamp)) \
    X(isc_encode_sql_date, false, decltype(&::isc_encode_sql_date)) \
    X(isc_encode_sql_time, false, decltype(&::isc_encode_sql_time)) \
    X(isc_encode_timestamp, false, decltype(&::isc_encode_timestamp)) \
    X(isc_add_user, false, decltype(&::isc_add_user)) \
    X(isc_delete_user, false, decltype(&::isc_delete_user)) \
    X(isc_modify_user, false, decltype(&::isc_modify_user)) \
    X(isc_event_block, false, decltype(&::isc_event_block)) \
    X(isc_free, false, decltype(&::isc_free)) \
    X(isc_que_events, false, decltype(&::isc_que_events)) \
    X(fb_interpret, false, decltype(&::fb_interpret))
// clang-format on

// One binding's entry table: a pointer per entry, typed from the client's header, nullptr
// while the library is not loaded (or, for an optional entry, when the library lacks it).
// TSDClientLibrary fills and clears it (LoadEntries and ClearEntries of the unit's design)
// through Table(), whose slots are this object's own members.
class TIntFunctions {
public:
    TIntFunctions();
    virtual ~TIntFunctions() = default;
    TIntFunctions(const TIntFunctions&) = delete;
    TIntFunctions& operator=(const TIntFunctions&) = delete;

    const std::vector<TSDClientEntry>& Table() const { return table_; }
    bool IsLoaded() const { return isc_attach_database != nullptr; }
    // Whether the loaded library exports the entry (false while nothing is loaded).
    bool HasEntry(const char* name) const;

#define KW_INT_DECLARE_ENTRY(name, required, type) type name = nullptr;
    KW_INT_ENTRY_POINTS(KW_INT_DECLARE_ENTRY)
#undef KW_INT_DECLARE_ENTRY

private:
    std::vector<TSDClientEntry> table_;
};

// The InterBase binding: one per process.
TIntFunctions& IntFunctions();
TSDClientLibrary& IntLibrary();
void LoadIntLibrary();
void UnloadIntLibrary();

// The connection handle record GetHandle gives and SetHandle takes: the server type (7, or 8
// for Firebird) and the addresses of the database and transaction handle cells.
#pragma pack(push, 1)
struct TIntHandle {
    uint8_t ServerType = stInterbase;
    isc_db_handle* DbHandle = nullptr;
    isc_tr_handle* TrHandle = nullptr;
};
#pragma pack(pop)

// The transaction existence block of isc_start_multiple, in the client's own terms: the
// database handle's address, the TPB's length and its address (natural alignment).
struct TIntTeb {
    isc_db_handle* DbHandle;
    ISC_LONG TpbLength;
    const ISC_SCHAR* Tpb;
};

// Makes the error of a binding's class ("class reference" of GetErrorClass).
using TIntErrorClass = std::unique_ptr<ESDIntError> (*)(int32_t errorCode, int32_t nativeError,
                                                        std::string message, bool lost);
std::unique_ptr<ESDIntError> MakeIntError(int32_t errorCode, int32_t nativeError, std::string message, bool lost);

// The value of one item of an info answer (isc_database_info, isc_dsql_sql_info,
// isc_blob_info): items of a code byte, a two-byte length and a value of that many bytes, up
// to isc_info_end; numbers are little-endian (as isc_vax_integer reads them), of 1 to 8 bytes.
// False when the item is absent, a length runs past the answer or the value is no number.
bool IntInfoItem(const uint8_t* answer, size_t size, uint8_t item, int64_t& value);

// Whether a status vector reports a broken link: its first code (word 1, after isc_arg_gds) is
// a shutdown, a network failure or a lost connection.
bool IntStatusMeansLostConnection(const ISC_STATUS* status);
// The status check of a failed call: the client's message (each line after CR LF), the SQL
// code (isc_sqlcode, else the call's result), nothing for -501, otherwise an error of the
// class, passed to the database's HandleError or, without a database, raised.
void CheckIntStatus(ISC_STATUS result, const ISC_STATUS* status, TIntErrorClass errorClass, TISqlDatabase* database,
                    const TIntFunctions& functions);
// The error CheckIntStatus reports for a failed call, without reporting it; nullptr for -501.
std::unique_ptr<ESDIntError> MakeIntStatusError(ISC_STATUS result, const ISC_STATUS* status,
                                                TIntErrorClass errorClass, const TIntFunctions& functions);

class TICustomIntDatabase : public TISqlDatabase {
public:
    static constexpr size_t kDpbPrefixLength = 1;
    static constexpr size_t kTpbPrefixLength = 3;
    static constexpr size_t kTpbSize = 255;

    TICustomIntDatabase(rtl::Component* owner, const rtl::StringList& params, TSDServerType serverType);
    ~TICustomIntDatabase() override;

protected:
    void DoConnect(const std::string& remoteDatabase, const std::string& userName,
                   const std::string& password) override;
    void DoDisconnect(bool force) override;
    void DoCommit() override;
    void DoRollback() override;
    void DoStartTransaction() override;

public:
    void* GetHandle() override { return handle_.get(); }
    // Both take effect through the TPB at the next transaction start; no server call.
    void SetAutoCommitOption(bool) override {}
    void SetHandle(void* handle) override;
    int32_t GetServerVersion() override;
    std::string GetVersionString() override;
    TISqlCommandPtr GetSchemaInfo(TSDSchemaType kind, const std::string& objectName) override;
    bool TestConnected() override;
    // Time stamps and times (kept to a tenth of a millisecond) are held to the millisecond:
    // on a Firebird server the column is cut to it with DATEADD (which InterBase lacks, where
    // they are compared with "="); a scaled numeric read as a double is compared as that
    // double.
    std::string OldValueCondition(const TSDFieldDesc& desc, const std::string& column,
                                  const std::string& marker) override;
    void SetTransIsolation(TSDTransIsolation) override {}
    bool SPDescriptionsAvailable() override { return true; }

    // The binding's own steps.
    virtual void AllocHandle(bool ownCells);
    virtual void FreeHandle(bool freeCells);
    virtual void ReleaseClientLibrary() = 0;
    virtual void AcquireClientLibrary() = 0;
    virtual TIntErrorClass GetErrorClass() const = 0;

    // The handle cells' addresses; rtl::EAssertionFailed naming the operation without a
    // handle record.
    isc_db_handle* GetDBHandle() const;
    isc_tr_handle* GetTRHandle() const;
    // The bound client (rtl::EAssertionFailed before the library is acquired).
    const TIntFunctions& Functions() const;
    int32_t SqlDialect() const { return sqlDialect_; }
    // Marks activity; a non-zero result goes through CheckIntStatus with this connection's
    // status vector.
    void CheckDatabaseStatus(ISC_STATUS result);
    // The type code of BOOLEAN on this client: Firebird numbers it SQL_BOOLEAN (32764),
    // InterBase 590. A Firebird client is known by its fb_ entries.
    int16_t BooleanSqlType() const;

    // The parameter blocks as they stand (for tests and the trace).
    const std::string& Dpb() const { return dpb_; }
    std::string Tpb() const { return std::string(reinterpret_cast<const char*>(tpb_.data()), tpbLength_); }
    // Appends the connect items (user, password, time-out, character set, role) after the
    // DPB's prefix; EDatabaseError naming the item when a value does not fit its length byte.
    void AppendDpbItems(const std::string& userName, const std::string& password);
    // Brings the TPB's isolation bytes and auto-commit byte in line with TransIsolation and
    // the auto-commit state; true when the TPB changed.
    bool UpdateTpb();
    bool ExplicitTransaction() const { return explicitTransaction_; }
    bool Retaining() const { return retaining_; }

protected:
    // The binding's entry table, set by AcquireClientLibrary.
    void SetFunctions(const TIntFunctions* functions) { functions_ = functions; }

private:
    void StartServerTransaction();
    void EndTransaction(bool commit);
    bool UsesRetainingCalls(bool commit) const;

    std::unique_ptr<TIntHandle> handle_;
    std::unique_ptr<isc_db_handle> dbCell_;
    std::unique_ptr<isc_tr_handle> trCell_;
    std::string dpb_;
    std::array<uint8_t, kTpbSize> tpb_{};
    size_t tpbLength_ = 0;
    std::array<ISC_STATUS, ISC_STATUS_LENGTH> status_{};
    int32_t sqlDialect_ = 1;
    bool explicitTransaction_ = false;
    bool retaining_ = true;
    int8_t firebirdServer_ = -1;  // whether the server is Firebird; -1 until asked after a connect
    const TIntFunctions* functions_ = nullptr;
};

class TIIntDatabase final : public TICustomIntDatabase {
public:
    TIIntDatabase(rtl::Component* owner, const rtl::StringList& params);
    ~TIIntDatabase() override;

    TISqlCommandPtr CreateSqlCommand(rtl::Component* ownerDataSet) override;
    int32_t GetClientVersion() override;
    void ReleaseClientLibrary() override;
    void AcquireClientLibrary() override;
    TIntErrorClass GetErrorClass() const override { return MakeIntError; }
};

// InterBase 7's descriptor entry (SQLDA_VERSION2), which the Firebird header does not declare:
// the version-1 entry with sqlprecision after sqlscale and 68-character names.
inline constexpr int kSqldaVersion2 = 2;
inline constexpr int kMetadataLength2 = 68;
struct TXSqlVarV2 {
    ISC_SHORT sqltype;
    ISC_SHORT sqlscale;
    ISC_SHORT sqlprecision;
    ISC_SHORT sqlsubtype;
    ISC_SHORT sqllen;
    ISC_SCHAR* sqldata;
    ISC_SHORT* sqlind;
    ISC_SHORT sqlname_length;
    ISC_SCHAR sqlname[kMetadataLength2];
    ISC_SHORT relname_length;
    ISC_SCHAR relname[kMetadataLength2];
    ISC_SHORT ownname_length;
    ISC_SCHAR ownname[kMetadataLength2];
    ISC_SHORT aliasname_length;
    ISC_SCHAR aliasname[kMetadataLength2];
};

// A descriptor (XSQLDA) of either entry layout: the header and `count` zero-filled entries,
// with version, sqln = count and sqldabc set.
class TIntSqlda {
public:
    TIntSqlda(int version, int count);
    XSQLDA* Get() { return reinterpret_cast<XSQLDA*>(data_.get()); }
    const XSQLDA* Get() const { return reinterpret_cast<const XSQLDA*>(data_.get()); }
    int Version() const { return Get()->version; }
    int Sqln() const { return Get()->sqln; }
    int Sqld() const { return Get()->sqld; }
    void SetSqld(int n) { Get()->sqld = ISC_SHORT(n); }
    // The entry's address; rtl::EAssertionFailed outside 0..sqln-1.
    uint8_t* Entry(int index);
    static size_t EntrySize(int version);
    static size_t HeaderSize();

private:
    std::unique_ptr<uint8_t[]> data_;
};

// A copy of one descriptor entry of either layout, read and written field by field.
class TSQLVAR {
public:
    // Copies entry i, in the descriptor's layout, and marks the copy assigned.
    void Assign(TIntSqlda& sqlda, int index);
    // Writes the copy back to entry i of a descriptor of the same layout.
    void Store(TIntSqlda& sqlda, int index) const;
    bool Assigned() const { return assigned_; }
    bool Version2() const { return version2_; }

    // Each raises EDatabaseError "SQLVAR not assigned" before Assign.
    ISC_SCHAR* SqlData() const;
    void SetSqlData(ISC_SCHAR* value);
    ISC_SHORT* SqlInd() const;
    void SetSqlInd(ISC_SHORT* value);
    int16_t SqlLen() const;
    void SetSqlLen(int16_t value);
    int16_t SqlScale() const;
    void SetSqlScale(int16_t value);
    int16_t SqlType() const;
    void SetSqlType(int16_t value);
    int16_t SqlSubType() const;
    // Version 2 only; 0 for version 1.
    int16_t SqlPrecision() const;
    // The names cut at their length words (and at the entry's size).
    std::string SqlName() const;
    std::string AliasName() const;
    std::string RelName() const;

private:
    void Check() const;

    XSQLVAR v1_{};
    TXSqlVarV2 v2_{};
    bool version2_ = false;
    bool assigned_ = false;
};

class TICustomIntCommand : public TISqlCommand {
public:
    // Native type codes (sqltype without the nullable bit).
    static constexpr int16_t kVarying = 448;
    static constexpr int16_t kText = 452;
    static constexpr int16_t kDouble = 480;
    static constexpr int16_t kFloat = 482;
    static constexpr int16_t kLong = 496;
    static constexpr int16_t kShort = 500;
    static constexpr int16_t kTimeStamp = 510;
    static constexpr int16_t kBlob = 520;
    static constexpr int16_t kTime = 560;
    static constexpr int16_t kDate = 570;
    static constexpr int16_t kInt64 = 580;
    static constexpr int16_t kBoolean = 590;
    // Statement types of isc_info_sql_stmt_type, and the one the driver sets itself after an
    // immediate execution.
    static constexpr int32_t kStmtSelect = 1;
    static constexpr int32_t kStmtInsert = 2;
    static constexpr int32_t kStmtUpdate = 3;
    static constexpr int32_t kStmtDelete = 4;
    static constexpr int32_t kStmtImmediate = 5;
    static constexpr int32_t kStmtExecProcedure = 8;
    static constexpr int32_t kStmtSelectForUpdate = 12;
    static constexpr int32_t kSegmentSize = 16384;

    TICustomIntCommand(TICustomIntDatabase* database, rtl::Component* owner);
    ~TICustomIntCommand() override;

    void BindParamsBuffer() override;
    void FreeFieldsBuffer() override;
    void SetFieldsBuffer() override;

protected:
    void DoPrepare(const std::string& sql) override;
    void DoExecDirect(const std::string& sql) override;
    void DoExecute() override;
    bool DoFetchNextRow() override;

public:
    int32_t CnvtDateTime2DBDateTime(TFieldType fieldType, rtl::TDateTime value, uint8_t* buffer,
                                    int32_t bufferSize) override;
    void InitParamList() override;
    TFieldType FieldDataType(int32_t nativeType) override;
    void GetFieldDescs(TSDFieldDescList& list) override;
    int32_t GetFieldsBufferSize() override;
    void* GetHandle() override;
    int32_t GetParamsBufferSize() override;
    bool IsFixedCharType(int32_t nativeType) override;
    uint16_t NativeDataSize(TFieldType fieldType) override;
    int32_t NativeDataType(TFieldType fieldType) override;
    bool RequiredCnvtFieldType(TFieldType fieldType) override;
    void CloseResultSet() override;
    void Disconnect(bool force) override;
    void ClearPreparedText() override;
    int32_t GetRowsAffected() override;
    bool ResultSetExists() override;
    bool GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize) override;
    // Output parameters are copied right after execution.
    void GetOutputParams() override {}
    int32_t ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data) override;
    // Identity columns (Firebird 3: RDB$IDENTITY_TYPE), one catalog query per table of the
    // result; a server without them leaves the descriptions as they are.
    void ReadAutoIncrementColumns() override;

    // The server's answer to isc_info_sql_stmt_type, asked once per prepared statement.
    int32_t StatementType();
    // The text with each parameter's first marker (":name" or ":\"name\"") outside
    // literals replaced by "?".
    std::string ServerText(const std::string& text) const;
    // The descriptor layout this command uses (1 or 2), decided once.
    int DescriptorVersion();
    // The field type of a described entry: BLOBs by sub-type, a VARYING above MAX STRING SIZE
    // as memo, the rest by FieldDataType, scaled integers as BCD (ENABLE BCD, at most four
    // places) or float.
    TFieldType EntryFieldType(const TSQLVAR& var);
    TICustomIntDatabase& IntDatabase() const;
    const TIntSqlda* OutputDescriptor() const { return out_.get(); }
    const TIntSqlda* InputDescriptor() const { return in_.get(); }

    // Values, BLOBs and procedures (SDIntValues.cpp).
    // A value of that native type, scale and length as a double: a scaled integer divided by
    // 10^|scale| (one division, so the result is the nearest double), a FLOAT or DOUBLE as it
    // is; rtl::EAssertionFailed for another layout.
    static double ScaledToDouble(int16_t sqlType, int16_t sqlScale, int16_t sqlLen, const uint8_t* value);
    // The value in units of 1/10000, exactly, rounded half away from zero where the scale has
    // more than four places; EDatabaseError when it does not fit in 64 bits.
    static int64_t ScaledToCurrency(int16_t sqlType, int16_t sqlScale, const uint8_t* value);
    int32_t ReadBlobData(const ISC_QUAD& blobId, rtl::ByteArray& data);
    int32_t WriteBlobData(ISC_QUAD& blobId, const uint8_t* data, size_t length);

protected:
    // TIIntCommand: version 2 on clients newer than 6; TIFibCommand: always 1.
    virtual int ChooseDescriptorVersion() = 0;
    void CheckCommandStatus(ISC_STATUS result);

private:
    // What a fetched value needs of its column's entry, kept when the row buffer is bound.
    struct TIntColumn {
        int16_t Native = 0;
        int16_t Scale = 0;
        int16_t Length = 0;
    };

    void AllocStatement();
    void FreeDescriptors();
    void DescribeOutput();
    void CloseCursorQuietly();
    void PrepareProcedure(std::string& serverText);
    void BindInputParam(TParam& param, TSQLVAR& var, uint8_t* cell, uint8_t* blobIdCell);
    void BindOutputParam(TParam& param, TSQLVAR& var, uint8_t* cell, uint8_t* blobIdCell);
    void CopyOutputParams();
    void DecodeDateTime(TFieldType fieldType, const uint8_t* native, uint8_t* record);
    void ExecuteImmediate(const std::string& serverText);
    uint8_t* FieldCellOf(const TSDFieldDesc& desc);

    std::unique_ptr<isc_stmt_handle> stmt_;
    std::array<ISC_STATUS, ISC_STATUS_LENGTH> status_{};
    std::unique_ptr<TIntSqlda> out_;
    std::unique_ptr<TIntSqlda> in_;
    int32_t stmtType_ = 0;
    // The BLOB-id cells (8 bytes per BLOB-kept field) after the engine's part of the row
    // buffer, and after its parameter cells.
    int32_t blobIdOffset_ = 0;
    int32_t paramBlobIdOffset_ = 0;
    // A long VARYING kept as a memo is fetched into a buffer of its own (its cell: header and
    // data), one per BLOB slot; the slots of true BLOBs hold none.
    std::vector<std::unique_ptr<uint8_t[]>> longTexts_;
    // By FieldNo - 1.
    std::vector<TIntColumn> columns_;
    // The row buffer the output descriptor's entries point into (nullptr: not bound).
    const uint8_t* boundRow_ = nullptr;
    // Whether BindParamsBuffer bound output parameters into the output descriptor.
    bool outputBound_ = false;
    bool cursorOpen_ = false;
    // The last fetch answered the end of the rows.
    bool fetchEnded_ = false;
    int32_t descriptorVersion_ = -1;
};

class TIIntCommand final : public TICustomIntCommand {
public:
    using TICustomIntCommand::TICustomIntCommand;

protected:
    int ChooseDescriptorVersion() override;
};

// A procedure name as the catalog holds it: dialect 1 trims and upper-cases; dialect 3 keeps it.
std::string NormalizeIntName(const std::string& name, int dialect);
// A procedure name for a statement: dialect 1 trims and upper-cases; dialect 3 right-trims it,
// doubles its double quotes and encloses it in double quotes.
std::string QuoteIntName(const std::string& name, int dialect);

std::unique_ptr<TISqlDatabase> CreateInterbaseDatabase(rtl::Component* owner, const rtl::StringList& params);
// Puts CreateInterbaseDatabase into the engine's factory table (stInterbase).
void RegisterInterbaseDriver();
