// database/odbc/SDDb2.h: the SQL library's driver for DB2 (unit SDDb2, server type stDB2).
//
// DB2's call-level interface offers the ODBC functions under the same names, so this driver
// is the ODBC driver (SDOdbc) with DB2's client library (libdb2.so.1 unless the parameter
// "DB2 API LIBRARY" names another file), DB2's large-object and graphic types, DB2's SQL types
// for parameters, four DB2 statement attributes, and DB2's identity query. The unit keeps its
// own library state and count: loading or releasing it never touches the ODBC unit's.
#pragma once

#include <memory>
#include <string>

#include "database/odbc/SDOdbc.h"

SD_ENGINE_ERROR(ESDDb2Error, ESDOdbcError);

// The ODBC function table and seven DB2 functions after it, which the driver binds but never
// calls (their addresses only).
class TDB2Functions : public TOdbcFunctions {
public:
    void BindEntryPoints(const plat::DynamicLibrary* module) override;
    void ClearEntryPoints() override;
    int EntryPointCount() const override;

    void* SQLBindFileToCol = nullptr;
    void* SQLBindFileToParam = nullptr;
    void* SQLGetLength = nullptr;
    void* SQLGetPosition = nullptr;
    void* SQLGetSubString = nullptr;
    void* SQLSetColAttributes = nullptr;
    void* SQLBindParam = nullptr;
};

class TIDB2Database : public TICustomOdbcDatabase {
public:
    TIDB2Database(rtl::Component* owner, const rtl::StringList& params);
    ~TIDB2Database() override;

    TISqlCommandPtr CreateSqlCommand(rtl::Component* ownerDataSet) override;
    // Always DB2's, whatever the data source describes itself as.
    std::string GetIdentityQuery() override { return "VALUES IDENTITY_VAL_LOCAL()"; }
    void FreeApiLibrary() override;
    void LoadApiLibrary() override;
    [[noreturn]] void RaiseError(int32_t errorCode, int32_t nativeError, bool connectionLost,
                                 const std::string& state, const std::string& message) override;
};

class TIDB2Command final : public TICustomOdbcCommand {
public:
    using TICustomOdbcCommand::TICustomOdbcCommand;

    TFieldType FieldDataType(int32_t nativeType) override;
    void AllocStatement() override;
    int16_t SqlDataType(TFieldType fieldType) override;
};

// DB2's own type codes.
inline constexpr int16_t SQL_GRAPHIC = -95;
inline constexpr int16_t SQL_VARGRAPHIC = -96;
inline constexpr int16_t SQL_LONGVARGRAPHIC = -97;
inline constexpr int16_t SQL_BLOB = -98;
inline constexpr int16_t SQL_CLOB = -99;
inline constexpr int16_t SQL_DBCLOB = -350;

TOdbcClientLibrary& Db2Library();
void LoadDb2Library();
void UnloadDb2Library();
std::unique_ptr<TISqlDatabase> CreateDB2Database(rtl::Component* owner, const rtl::StringList& params);
// Puts CreateDB2Database into the engine's factory table (stDB2).
void RegisterDb2Driver();
