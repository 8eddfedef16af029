// database/engine/SDCommon.cpp: the driver connection, its wrappers and the shared small types.
#include "database/engine/SDCommon.h"

#include <cmath>

#include "database/engine/SDCommonCommand.h"
#include "database/engine/SDCommonTrace.h"
#include "rtl/Assert.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

// In the order of TSDServerType.
constexpr const char* kServerNames[kServerTypeCount] = {
    "SQLBase", "Oracle",    "SQLServer", "Sybase", "DB2",        "Informix",
    "ODBC",    "Interbase", "Firebird",  "MySQL",  "PostgreSQL", "OLEDB",
};

// Flag option: trimmed, upper-cased, compared with "TRUE" or "FALSE".
std::string FlagValue(const rtl::StringList& params, const char* name) {
    return rtl::UpperCase(rtl::Trim(params.Values(name)));
}

int32_t IntOption(const rtl::StringList& params, const char* name, int32_t def) {
    int32_t v = 0;
    return rtl::TryStrToInt(rtl::Trim(params.Values(name)), v) ? v : def;
}

// Sizes of buffers the drivers allocate and of the pieces in which they read long values: a
// value below 1 would give them no room for a name, or read a long value forever in pieces
// of no bytes, so it counts as malformed.
int32_t SizeOption(const rtl::StringList& params, const char* name, int32_t def) {
    const int32_t v = IntOption(params, name, def);
    return v >= 1 ? v : def;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Decimal digits read as a 32-bit integer (wrapping as the original's conversion of a long
// run would not; such runs do not occur in version texts).
int32_t DigitRun(const std::string& s) {
    uint32_t v = 0;
    for (char c : s)
        v = v * 10 + uint32_t(c - '0');
    return int32_t(v);
}

}  // namespace

void TISqlCommandDeleter::operator()(TISqlCommand* command) const noexcept {
    if (command == nullptr) return;
    command->BeforeDestruction();
    delete command;
}

ESDEngineError::ESDEngineError(int32_t errorCode, int32_t nativeError, std::string message,
                               bool connectionLost)
    : ESDEngineError(errorCode, nativeError, std::move(message), -1, connectionLost) {}

ESDEngineError::ESDEngineError(int32_t errorCode, int32_t nativeError, std::string message, int32_t errorPos,
                               bool connectionLost)
    : rtl::EDatabaseError(std::move(message)),
      NativeError(nativeError),
      ErrorCode(errorCode),
      ErrorPos(errorPos),
      ConnectionLost(connectionLost) {}

int32_t MakeVersionNumber(int32_t major, int32_t minor) {
    return int32_t((uint32_t(major & 0xFFFF) << 16) | uint32_t(minor & 0xFFFF));
}

int32_t GetVersionMajor(int32_t version) {
    return int32_t((uint32_t(version) >> 16) & 0xFFFF);
}
int32_t GetVersionMinor(int32_t version) {
    return int32_t(uint32_t(version) & 0xFFFF);
}

int32_t ParseVersionNumber(const std::string& text) {
    auto dropNonDigits = [](std::string& s) {
        size_t i = 0;
        while (i < s.size() && !IsDigit(s[i]))
            ++i;
        s.erase(0, i);
    };
    auto leadingRun = [](const std::string& s) {
        size_t i = 0;
        while (i < s.size() && IsDigit(s[i]))
            ++i;
        return i;
    };
    std::string s = text;
    dropNonDigits(s);
    int32_t major = 0;
    size_t run = leadingRun(s);
    if (run < s.size()) {  // a non-digit follows the run
        major = DigitRun(s.substr(0, run));
        s.erase(0, run + 1);
    }
    dropNonDigits(s);
    run = leadingRun(s);
    const int32_t minor = DigitRun(s.substr(0, run));
    return MakeVersionNumber(major, minor);
}

std::string GetServerTypeName(int serverType) {
    if (serverType < 0 || serverType >= kServerTypeCount) return "";
    return kServerNames[serverType];
}

std::string GetApiLibraryParamName(int serverType) {
    if (serverType < 0 || serverType >= kServerTypeCount) return "";
    return rtl::Format("%s API LIBRARY", kServerNames[serverType]);
}

bool IsBlobFieldType(TSDServerType serverType, TFieldType fieldType) {
    switch (fieldType) {
        case ftBlob:
        case ftMemo:
        case ftGraphic:
        case ftFmtMemo:
        case ftParadoxOle:
        case ftDBaseOle:
        case ftTypedBinary:
        case ftOraBlob:
        case ftOraClob:
            return true;
        case ftVarBytes:
            return serverType == stODBC;
        default:
            return false;
    }
}

rtl::TDateTime DateTimeRecToDateTime(TFieldType fieldType, const TSDDateTimeRec& rec) {
    rtl::TTimeStamp ts;
    switch (fieldType) {
        case ftDate:
            ts.Date = rec.Date();
            ts.Time = 0;
            break;
        case ftTime:
            ts.Date = rtl::DateDelta;
            ts.Time = rec.Time();
            break;
        case ftDateTime: {
            const double ms = std::nearbyint(rec.DateTime());
            if (!std::isfinite(ms) || std::fabs(ms) > 9.0e15) {
                ts.Date = 0;  // cannot be rounded: a time stamp of day 0, rejected below
            } else {
                const int64_t total = int64_t(ms);
                ts.Date = int32_t(total / rtl::MSecsPerDay);
                ts.Time = int32_t(total % rtl::MSecsPerDay);
            }
            break;
        }
        default:
            throw rtl::Exception("Unknown data type in function DateTimeRecToDateTime");
    }
    return rtl::TimeStampToDateTime(ts);
}

TISqlDatabase::TISqlDatabase(rtl::Component* owner, const rtl::StringList& params, TSDServerType serverType)
    : Owner(owner), Params(params), serverType_(serverType) {
    EnableBCD = FlagValue(Params, "ENABLE BCD") == STrueString;
    RTrimCharOutput = FlagValue(Params, "RTRIM CHAR OUTPUT") != SFalseString;
    SingleConnection = serverType == stSQLServer || FlagValue(Params, "SINGLE CONNECTION") == STrueString;
    MaxFieldNameLen = SizeOption(Params, "MAXFIELDNAMELEN", 70);
    MaxStringSize = IntOption(Params, "MAX STRING SIZE", 255);
    BlobPieceSize = SizeOption(Params, "BLOB PIECE SIZE", 32752);
    PrefetchRows = IntOption(Params, "PREFETCH ROWS", 1);
}

TISqlDatabase::~TISqlDatabase() = default;

void TISqlDatabase::NotImplemented(const char* qualifiedName) {
    throw rtl::EAssertionFailed(rtl::Format(SFuncNotImplemented, qualifiedName));
}

void TISqlDatabase::DoEndWaitCursor() {
    if (EndWaitCursorProc) EndWaitCursorProc(*this);
}

void TISqlDatabase::DoMarkActivity() {
    if (ActivityProc) ActivityProc(*this);
}

void* TISqlDatabase::GetHandle() {
    NotImplemented("TISqlDatabase.GetHandle");
}
void TISqlDatabase::SetAutoCommitOption(bool) {
    NotImplemented("TISqlDatabase.SetAutoCommitOption");
}
void TISqlDatabase::SetHandle(void*) {
    NotImplemented("TISqlDatabase.SetHandle");
}
std::string TISqlDatabase::GetIdentityQuery() {
    return "";
}
TSDServerType TISqlDatabase::GetServerType() const {
    return serverType_;
}
void TISqlDatabase::GetStoredProcNames(rtl::StringList&) {
    NotImplemented("TISqlDatabase.GetStoredProcNames");
}
void TISqlDatabase::GetTableNames(const std::string&, bool, rtl::StringList&) {
    NotImplemented("TISqlDatabase.GetTableNames");
}
void TISqlDatabase::GetTableFieldNames(const std::string&, rtl::StringList&) {
    NotImplemented("TISqlDatabase.GetTableFieldNames");
}
TISqlCommandPtr TISqlDatabase::GetSchemaInfo(TSDSchemaType, const std::string&) {
    NotImplemented("TISqlDatabase.GetSchemaInfo");
}
int32_t TISqlDatabase::ParamValue(int32_t) {
    NotImplemented("TISqlDatabase.ParamValue");
}
void TISqlDatabase::SetTransIsolation(TSDTransIsolation) {
    NotImplemented("TISqlDatabase.SetTransIsolation");
}
bool TISqlDatabase::SPDescriptionsAvailable() {
    NotImplemented("TISqlDatabase.SPDescriptionsAvailable");
}
std::string TISqlDatabase::OldValueCondition(const TSDFieldDesc&, const std::string& column,
                                             const std::string& marker) {
    return column + " = " + marker;
}

void TISqlDatabase::Connect(const std::string& remoteDatabase, const std::string& userName,
                            const std::string& password) {
    const TSDTraceStart start;
    try {
        DoConnect(remoteDatabase, userName, password);
        TraceSqlConnection(*this, teConnect, start);
    } catch (...) {
        // The connect failure is what the caller must see. The clean-up runs forced, since the
        // half-made connection may be unusable, and a failure of the clean-up itself must not
        // take the place of the real error.
        try {
            DoDisconnect(true);
        } catch (const std::exception&) {
        }
        throw;
    }
}

void TISqlDatabase::Disconnect(bool force) {
    const TSDTraceStart start;
    DoDisconnect(force);
    TraceSqlConnection(*this, teDisconnect, start);
}

void TISqlDatabase::StartTransaction() {
    const TSDTraceStart start;
    if (AutoCommit) SetAutoCommitOption(false);
    DoStartTransaction();
    TraceSqlConnection(*this, teTrStart, start);
    InTransaction = true;
}

void TISqlDatabase::Commit() {
    const TSDTraceStart start;
    DoCommit();
    TraceSqlConnection(*this, teTrCommit, start);
    if (AutoCommit) SetAutoCommitOption(true);
    InTransaction = false;
}

void TISqlDatabase::Rollback() {
    const TSDTraceStart start;
    DoRollback();
    TraceSqlConnection(*this, teTrRollback, start);
    if (AutoCommit) SetAutoCommitOption(true);
    InTransaction = false;
}

void TISqlDatabase::HandleError(const ESDEngineError& e) {
    TraceSqlError(e.Message());
    if (ErrorProc) ErrorProc(*this, e);
    // A handler that returns has not raised; the driver must not go on as if its call had
    // succeeded, so the error is raised here in every case.
    e.Raise();
}
