// database/engine/SDCommonCommand.h: the driver command and its buffers (part of unit SDCommon).
//
// TISqlCommand is one SQL statement or stored-procedure call with its parameters, its
// result columns and the cursor over its rows. A driver connection creates it for a
// dataset, every driver subclasses it once, and the engine prepares, executes and fetches
// through the wrappers here. The base holds what is the same for every server: the texts,
// the parameter collection (the dataset's, not owned), the two buffers, the field
// descriptions and the order of the steps.
//
// Buffer layouts (sizes are the engine's own and hold on 64-bit too):
//   params buffer  one cell per parameter in collection order, packed: an 8-byte header and
//                  ParamDataSize(param) data bytes. The base never stores the positions; a
//                  driver walks the parameters in the same order to find each cell.
//   row buffer     one cell per column in FieldDescs order (8 + DataSize bytes each), packed;
//                  FieldsDataSize is the end of the cells; then one 4-byte blob slot per blob
//                  column (BlobIndex), whose byte array the TSDBuffer keeps beside the block.
//                  A driver may start the cells on wider boundaries (LayOutFieldCells).
// The engine's order of calls, which drivers support: CreateSqlCommand, SetParams,
// Prepare + Execute + FetchNextRow... (or ExecDirect), GetCnvtFieldData per column and the
// blob slots per blob column after each row, CloseResultSet, Disconnect(true).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "database/engine/SDCommon.h"
#include "rtl/DbParams.h"

using rtl::TParamType;
using enum rtl::TParamType;
using TParams = rtl::Params;
using TParam = rtl::Param;

// A result column as the driver describes it.
struct TSDFieldDesc {
    std::string FieldName;  // at most 70 characters, unique in its list
    int32_t FieldNo = 0;    // 1-based position, set by InitFieldDescs
    TFieldType FieldType = ftUnknown;
    int16_t NativeType = 0;
    int32_t DataSize = 0;
    int32_t BlobIndex = 0;  // -1 or the blob slot, set when the row layout is computed
    int16_t Precision = 0;
    int16_t Scale = 0;
    bool Required = false;
    bool IsFixedChar = false;
    // The server fills the column (an identity or serial column whose type is no ftAutoInc);
    // set by ReadAutoIncrementColumns.
    bool AutoIncrement = false;
};

// A column whose current value GetCnvtRowData copies into a record: the value-present byte
// at Slot, then the value as GetCnvtFieldData gives it, in at most Limit bytes.
struct TSDCellCopy {
    const TSDFieldDesc* Desc = nullptr;
    int32_t Slot = 0;
    int32_t Limit = 0;
};

inline constexpr size_t kMaxFieldNameLen = 70;
// The largest params or row buffer: sizes are 32-bit in the layout, so larger layouts are
// refused with an EDatabaseError instead of wrapping.
inline constexpr int64_t kMaxBufferSize = INT32_MAX;

class TSDFieldDescList {
public:
    int Count() const { return int(items_.size()); }
    // A new zeroed description at the end.
    TSDFieldDesc& AddFieldDesc();
    // rtl::EAssertionFailed for an index outside the list.
    TSDFieldDesc& GetFieldDesc(int index);
    const TSDFieldDesc& GetFieldDesc(int index) const;
    // Names compared upper-cased (ASCII); EDatabaseError "Description of field '%s' not found".
    TSDFieldDesc& FieldDescByName(const std::string& name);
    // Direct when the description at n - 1 has FieldNo n, else the first with FieldNo n;
    // EDatabaseError with "FieldNo=<n>" in the place holder when there is none.
    TSDFieldDesc& FieldDescByNumber(int32_t fieldNo);
    // Empty names become COLUMN<i+1>; repeated names (ASCII case ignored) get "_<k>".
    void MakeUniqueNames();
    void Clear() { items_.clear(); }

private:
    std::vector<std::unique_ptr<TSDFieldDesc>> items_;
};

class TISqlCommand {
public:
    using TSDFetchAllProc = std::function<void(bool value)>;

    // Slot 24. MaxCharParamLen is the connection's "MAXCHARPARAMLEN" (not trimmed), else 255.
    TISqlCommand(TISqlDatabase* database, rtl::Component* owner);
    // Frees the buffers and descriptions. The deleter of TISqlCommandPtr has disconnected the
    // command (Force) before; a driver whose object is deleted another way calls
    // Disconnect(true) in its own destructor.
    virtual ~TISqlCommand();
    TISqlCommand(const TISqlCommand&) = delete;
    TISqlCommand& operator=(const TISqlCommand&) = delete;

    // Virtual operations in slot order.
    virtual void DoRequestFetchAll(bool value);
    virtual void AllocParamsBuffer();
    virtual void AllocFieldsBuffer();
    virtual void BindParamsBuffer();
    virtual void FreeParamsBuffer();
    virtual void FreeFieldsBuffer();
    virtual void SetFieldsBuffer();

protected:
    virtual void DoPrepare(const std::string& sql) = 0;
    virtual void DoExecDirect(const std::string& sql) = 0;
    virtual void DoExecute() = 0;
    virtual bool DoFetchNextRow() = 0;

public:
    // Writes a date-time in the server's layout; answers the bytes written.
    virtual int32_t CnvtDateTime2DBDateTime(TFieldType fieldType, rtl::TDateTime value, uint8_t* buffer,
                                            int32_t bufferSize);
    virtual void InitParamList();
    virtual void ReadBlobsToSlots();
    virtual TFieldType FieldDataType(int32_t nativeType);
    virtual void GetFieldDescs(TSDFieldDescList& list);
    virtual TSDBuffer* GetFieldsBuffer();
    virtual int32_t GetFieldsBufferSize();
    virtual void* GetHandle();
    virtual int32_t GetParamsBufferSize();
    virtual bool IsFixedCharType(int32_t nativeType);
    virtual uint16_t NativeDataSize(TFieldType fieldType);
    virtual int32_t NativeDataType(TFieldType fieldType);
    virtual bool RequiredCnvtFieldType(TFieldType fieldType);
    virtual void CloseResultSet();
    virtual void Cancel();
    virtual void Disconnect(bool force);
    virtual void ClearPreparedText();
    virtual void ExecDirect(const std::string& sql);
    virtual void Execute();
    virtual int32_t GetIdentityValue();
    // Marks the descriptions of the columns the server fills (identity and serial columns)
    // where its catalog says so; the engine asks before a live query generates an insert.
    // Nothing in the base (a driver that types such columns ftAutoInc needs nothing more).
    virtual void ReadAutoIncrementColumns();
    virtual int32_t GetRowsAffected();
    virtual bool NextResultSet();
    virtual void Prepare(const std::string& sql);
    virtual bool ResultSetExists();
    virtual bool FetchNextRow();
    virtual void InitFieldDescs();
    // Copies the current row's value of the column into dest in the engine's layout (dates
    // as TSDDateTimeRec); false for null.
    virtual bool GetCnvtFieldData(const TSDFieldDesc& desc, void* dest, int32_t destSize);
    // GetCnvtFieldData for each of the columns, in their order, into the record; the byte at
    // each Slot says whether there was a value. The base asks column by column; a driver that
    // can reach its current row once for all of them does so (the engine calls this once per
    // fetched row).
    virtual void GetCnvtRowData(const TSDCellCopy* cells, size_t count, uint8_t* record);
    virtual void GetOutputParams();
    // Reads the column's whole long value of the current row; its length (0 or below: null
    // or empty).
    virtual int32_t ReadBlob(const TSDFieldDesc& desc, rtl::ByteArray& data);
    virtual int32_t WriteBlob(int32_t index, const uint8_t* data, int32_t count);

    // Not virtual.
    TISqlDatabase& GetSqlDatabase() const;
    void SetParams(TParams* params) { Params = params; }
    int GetParamCount() const { return Params ? Params->Count() : 0; }
    bool IsPrepared() const;
    void SetCommandText(const std::string& text);
    void SetPreparedText(const std::string& text);
    void RequestFetchAll() { DoRequestFetchAll(true); }
    void ClearFieldDescs();
    TParam& AddParam(const std::string& name, TFieldType fieldType, TParamType paramType);
    // Zero-terminated texts handed to a client library without copying (valid while the
    // parameter, its value or the text is unchanged). GetParamValuePtr keeps the value's text
    // in BufferList.
    const char* GetParamNamePtr(const TParam& param) const { return param.Name().c_str(); }
    const char* GetParamValuePtr(const TParam& param);
    static const char* GetStringPtr(const std::string& text) { return text.c_str(); }
    void ClearBufferList() { BufferList.Clear(); }
    // Maps the result columns to their source table and column (origins lines name=table.column).
    void GetFieldOrigins(const std::string& sql, rtl::StringList& origins);

    // Sizes, offsets and typed readers of the current row.
    int32_t ParamDataSize(const TParam& param);
    int32_t GetFieldOffset(int index) const;
    // The cell of a column in a row buffer; rtl::EAssertionFailed for a field number outside
    // the layout, a column without a cell or no buffer. Inline: drivers ask once per column of
    // every row.
    uint8_t* GetFieldCell(int32_t fieldNo, TSDBuffer* buffer) {
        if (buffer == nullptr || fieldNo < 1 || size_t(fieldNo) > FieldOffsets.size() ||
            FieldOffsets[size_t(fieldNo - 1)] < 0) [[unlikely]]
            FieldCellFailure(fieldNo, buffer);
        return buffer->Data() + FieldOffsets[size_t(fieldNo - 1)];
    }
    TSDBlobRef GetFieldBlobData(const TSDFieldDesc& desc);
    void SetFieldBlobData(const TSDFieldDesc& desc, TSDBlobRef data);
    bool GetFieldAsSmallint(int32_t fieldNo, int16_t& value);
    bool GetFieldAsInteger(int32_t fieldNo, int32_t& value);
    bool GetFieldAsFloat(int32_t fieldNo, double& value);
    bool GetFieldAsLargeint(int32_t fieldNo, int64_t& value);
    bool GetFieldAsDateTime(int32_t fieldNo, rtl::TDateTime& value);
    bool GetFieldAsString(int32_t fieldNo, std::string& value);

    // Called by TISqlCommandDeleter right before the object is deleted.
    void BeforeDestruction();

    int32_t CommandType = 0;  // 0 SQL statement, 2 stored-procedure call
    std::string CommandText;
    std::string PreparedText;
    int32_t BlobFieldCount = 0;
    std::unique_ptr<TSDFieldDescList> FieldDescs;
    TParams* Params = nullptr;
    std::unique_ptr<TSDBuffer> ParamsBuffer;
    std::unique_ptr<TSDBuffer> FieldsBuffer;
    int32_t FieldsDataSize = 0;
    std::vector<int32_t> FieldOffsets;
    TSDBufferList BufferList;
    rtl::Component* Owner;
    TISqlDatabase* SqlDatabase;
    TSDFetchAllProc FetchAllProc;
    int32_t LongDataSize = 1048576;
    int32_t MaxCharParamLen = 255;

protected:
    [[noreturn]] static void NotImplemented(const char* qualifiedName);
    // DoExecute, traced whether it ends or raises: what every Execute runs.
    void TracedExecute();
    // Raises what GetFieldCell found wrong, in the order it checks.
    [[noreturn]] void FieldCellFailure(int32_t fieldNo, const TSDBuffer* buffer) const;
    // Lays the row buffer out in FieldDescs order: sets FieldOffsets, every BlobIndex and
    // FieldsDataSize, and answers the row's size (cells, then the blob slots). Each cell is a
    // header (kCellHeaderSize bytes unless the driver's cells carry a wider one) and DataSize
    // bytes and starts on a multiple of alignment (1: packed, the base's layout); the row's
    // size is a multiple of it too. A negative data size and a row past kMaxBufferSize are
    // refused.
    int32_t LayOutFieldCells(int32_t alignment, int32_t headerSize = kCellHeaderSize);
};

// A new driver command owned by a TISqlCommandPtr (drivers' CreateSqlCommand use it).
template <typename T, typename... Args>
TISqlCommandPtr MakeSqlCommand(Args&&... args) {
    return TISqlCommandPtr(new T(std::forward<Args>(args)...));
}
