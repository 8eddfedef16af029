// database/drivers/SDFib.cpp: the Firebird driver (unit SDFib): its binding and the few steps
// in which its connection differs from the InterBase one.
#include "database/drivers/SDFib.h"

#include "database/engine/SDEngine.h"

namespace {

constexpr const char* kFibLibraryName = "libfbclient.so.2";

}  // namespace

TFibFunctions& FibFunctions() {
    static TFibFunctions functions;
    return functions;
}

TSDClientLibrary& FibLibrary() {
    // The table outlives the library object, which clears it when it goes.
    (void)FibFunctions();
    static TSDClientLibrary library(kFibLibraryName, stFirebird, "Interbase Client");
    return library;
}

void LoadFibLibrary() {
    FibLibrary().Load(FibFunctions().Table());
}

void UnloadFibLibrary() {
    FibLibrary().Unload(FibFunctions().Table());
}

std::unique_ptr<ESDIntError> MakeFibError(int32_t errorCode, int32_t nativeError, std::string message, bool lost) {
    return std::make_unique<ESDFibError>(errorCode, nativeError, std::move(message), lost);
}

std::unique_ptr<TISqlDatabase> CreateFirebirdDatabase(rtl::Component* owner, const rtl::StringList& params) {
    FibLibrary().TakeNameFromParams(params);
    return std::make_unique<TIFibDatabase>(owner, params);
}

void RegisterFirebirdDriver() {
    RegisterSqlDatabaseFactory(stFirebird, [](TSDDatabase* owner, const rtl::StringList& params) {
        return CreateFirebirdDatabase(owner, params);
    });
}

TIFibDatabase::TIFibDatabase(rtl::Component* owner, const rtl::StringList& params)
    : TICustomIntDatabase(owner, params, stFirebird) {}

TIFibDatabase::~TIFibDatabase() {
    // Released here, while this class's own binding is still what ReleaseClientLibrary names.
    try {
        DoDisconnect(true);
    } catch (const std::exception&) {
        // Nobody is left to report a failed release to.
    }
}

TISqlCommandPtr TIFibDatabase::CreateSqlCommand(rtl::Component* ownerDataSet) {
    return MakeSqlCommand<TIFibCommand>(this, ownerDataSet);
}

int32_t TIFibDatabase::GetClientVersion() {
    return FibLibrary().FileVersion();
}

void TIFibDatabase::AllocHandle(bool ownCells) {
    TICustomIntDatabase::AllocHandle(ownCells);
    static_cast<TIntHandle*>(GetHandle())->ServerType = stFirebird;
}

void TIFibDatabase::ReleaseClientLibrary() {
    UnloadFibLibrary();
}

void TIFibDatabase::AcquireClientLibrary() {
    LoadFibLibrary();
    SetFunctions(&FibFunctions());
}
