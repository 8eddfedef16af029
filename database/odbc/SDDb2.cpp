// database/odbc/SDDb2.cpp: the DB2 driver (unit SDDb2).
#include "database/odbc/SDDb2.h"

#include "database/engine/SDEngine.h"

using namespace odbcapi;

namespace {

constexpr const char* kDb2LibraryName = "libdb2.so.1";

// DB2's own statement attributes, set on every statement: 1250 keeps cursors open across a
// commit (cursor hold, on), 1277 is deferred prepare (off, so a prepared statement can be
// described at once), and attribute 22 is set to 1 as DB2's library expects.
constexpr SQLINTEGER kDb2Attr22 = 22;
constexpr SQLINTEGER kDb2AttrCursorHold = 1250;
constexpr SQLINTEGER kDb2AttrDeferredPrepare = 1277;

}  // namespace

void TDB2Functions::BindEntryPoints(const plat::DynamicLibrary* module) {
    TOdbcFunctions::BindEntryPoints(module);
    auto bind = [module](const char* name) { return module != nullptr ? module->Symbol(name) : nullptr; };
    SQLBindFileToCol = bind("SQLBindFileToCol");
    SQLBindFileToParam = bind("SQLBindFileToParam");
    SQLGetLength = bind("SQLGetLength");
    SQLGetPosition = bind("SQLGetPosition");
    SQLGetSubString = bind("SQLGetSubString");
    SQLSetColAttributes = bind("SQLSetColAttributes");
    SQLBindParam = bind("SQLBindParam");
}

void TDB2Functions::ClearEntryPoints() {
    TOdbcFunctions::ClearEntryPoints();
    SQLBindFileToCol = SQLBindFileToParam = SQLGetLength = SQLGetPosition = SQLGetSubString =
        SQLSetColAttributes = SQLBindParam = nullptr;
}

int TDB2Functions::EntryPointCount() const {
    return TOdbcFunctions::EntryPointCount() + 7;
}

TOdbcClientLibrary& Db2Library() {
    static TOdbcClientLibrary library({kDb2LibraryName, stDB2, false, false},
                                      std::make_unique<TDB2Functions>());
    return library;
}

void LoadDb2Library() {
    Db2Library().Load();
}

void UnloadDb2Library() {
    Db2Library().Unload();
}

std::unique_ptr<TISqlDatabase> CreateDB2Database(rtl::Component* owner, const rtl::StringList& params) {
    Db2Library().TakeNameFromParams(params);
    return std::make_unique<TIDB2Database>(owner, params);
}

void RegisterDb2Driver() {
    RegisterSqlDatabaseFactory(stDB2, [](TSDDatabase* owner, const rtl::StringList& params) {
        return CreateDB2Database(owner, params);
    });
}

TIDB2Database::TIDB2Database(rtl::Component* owner, const rtl::StringList& params)
    : TICustomOdbcDatabase(owner, params, stDB2) {}

TIDB2Database::~TIDB2Database() = default;

TISqlCommandPtr TIDB2Database::CreateSqlCommand(rtl::Component* ownerDataSet) {
    return MakeSqlCommand<TIDB2Command>(this, ownerDataSet);
}

void TIDB2Database::FreeApiLibrary() {
    UnloadDb2Library();
}

void TIDB2Database::LoadApiLibrary() {
    LoadDb2Library();
    functions_ = Db2Library().Functions();
}

void TIDB2Database::RaiseError(int32_t errorCode, int32_t nativeError, bool connectionLost,
                               const std::string& state, const std::string& message) {
    HandleError(ESDDb2Error(errorCode, nativeError, message, connectionLost, state));
}

TFieldType TIDB2Command::FieldDataType(int32_t nativeType) {
    switch (nativeType) {
        case SQL_DBCLOB:
        case SQL_CLOB:
            return ftMemo;
        case SQL_BLOB:
        case SQL_LONGVARGRAPHIC:
            return ftBlob;
        case SQL_VARGRAPHIC:
        case SQL_GRAPHIC:
            return ftVarBytes;
        default:
            return TICustomOdbcCommand::FieldDataType(nativeType);
    }
}

void TIDB2Command::AllocStatement() {
    TICustomOdbcCommand::AllocStatement();
    TICustomOdbcDatabase& db = OdbcDatabase();
    try {
        CheckStmt(db.SetStmtAttr(stmt_, kDb2Attr22, 1, 0));
        CheckStmt(db.SetStmtAttr(stmt_, SQL_ATTR_USE_BOOKMARKS, 0, 0));
        CheckStmt(db.SetStmtAttr(stmt_, kDb2AttrCursorHold, 1, 0));
        CheckStmt(db.SetStmtAttr(stmt_, kDb2AttrDeferredPrepare, 0, 0));
    } catch (...) {
        db.FreeOdbcHandle(SQL_HANDLE_STMT, stmt_);
        stmt_ = nullptr;
        throw;
    }
}

int16_t TIDB2Command::SqlDataType(TFieldType fieldType) {
    switch (fieldType) {
        case ftString:
        case ftFixedChar:
            return SQL_CHAR;
        case ftVarBytes:
            return SQL_BINARY;
        case ftBlob:
        case ftGraphic:
            return SQL_BLOB;
        case ftMemo:
        case ftFmtMemo:
            return SQL_CLOB;
        case ftGuid:
            return 0;
        case ftDate:
            return SQL_TYPE_DATE;
        case ftTime:
            return SQL_TYPE_TIME;
        case ftDateTime:
            return SQL_TYPE_TIMESTAMP;
        default:
            return TICustomOdbcCommand::SqlDataType(fieldType);
    }
}
