// database/drivers/SDFib.h: the SQL library's driver for Firebird (unit SDFib, server type
// stFirebird).
//
// The InterBase driver (SDInt) bound to a binding of its own: the Firebird client
// "libfbclient.so.2" unless the parameter "Firebird API LIBRARY" names another file, with its
// own module, load count, version, lock and entry table, so InterBase and Firebird
// connections can be open in one process at once, each against its own client. Everything
// else (parameter blocks, transactions, status check, catalog, statements, values, BLOBs,
// procedures) is the InterBase driver's. Differences: the handle record carries server type 8,
// errors are ESDFibError, and commands always use version-1 descriptors.
//
// The Firebird server's installation folder is not looked up (no registry here): a library
// name without a folder goes through the loader's search path, as when the key is missing.
#pragma once

#include <memory>

#include "database/drivers/SDInt.h"

SD_ENGINE_ERROR(ESDFibError, ESDIntError);

// The Firebird binding's entry table: the InterBase table, names, required entries and
// missing-entry message alike.
class TFibFunctions final : public TIntFunctions {};

TFibFunctions& FibFunctions();
TSDClientLibrary& FibLibrary();
void LoadFibLibrary();
void UnloadFibLibrary();

std::unique_ptr<ESDIntError> MakeFibError(int32_t errorCode, int32_t nativeError, std::string message, bool lost);

class TIFibDatabase final : public TICustomIntDatabase {
public:
    TIFibDatabase(rtl::Component* owner, const rtl::StringList& params);
    ~TIFibDatabase() override;

    TISqlCommandPtr CreateSqlCommand(rtl::Component* ownerDataSet) override;
    int32_t GetClientVersion() override;
    void AllocHandle(bool ownCells) override;
    void ReleaseClientLibrary() override;
    void AcquireClientLibrary() override;
    TIntErrorClass GetErrorClass() const override { return MakeFibError; }
};

class TIFibCommand final : public TICustomIntCommand {
public:
    using TICustomIntCommand::TICustomIntCommand;

protected:
    // Version-1 descriptors, whatever the client's version.
    int ChooseDescriptorVersion() override { return SQLDA_VERSION1; }
};

std::unique_ptr<TISqlDatabase> CreateFirebirdDatabase(rtl::Component* owner, const rtl::StringList& params);
// Puts CreateFirebirdDatabase into the engine's factory table (stFirebird).
void RegisterFirebirdDriver();
