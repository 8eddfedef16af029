// crypto/prov/SBPKCS11ModuleList.h: the PKCS#11 (Cryptoki) libraries loaded by the process, each
// with a reference count, unloaded when its last user releases it.
//
// One instance serves the whole program (PKCS11ModuleList). No code of this system adds a
// module yet, so at shutdown the list only releases what it holds; the contract is the one a
// PKCS#11 provider relies on. What must stay true:
// - a record in the list has a count of at least 1;
// - the record whose count drops to 0 is finalised (when its library was initialised: its
//   objects freed first to last, then C_Finalize(NULL), PKCS#11 v2.40 section 5.4), removed,
//   freed, and its library unloaded, in that order;
// - every change happens under the list's lock taken for writing, and the lock is given back
//   on every path, also when a step raises.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "crypto/base/SBSharedResource.h"
#include "platform/DynamicLibrary.h"

// An object that belongs to an initialised library (a session, a slot record) and must go
// before the library is finalised.
class TElPKCS11ModuleObject {
public:
    virtual ~TElPKCS11ModuleObject() = default;
};

// One loaded library.
class TElPKCS11Module final {
public:
    // Takes the loaded library and binds its C_Finalize when it has one. The count starts at 1.
    explicit TElPKCS11Module(plat::DynamicLibrary library);
    TElPKCS11Module(const TElPKCS11Module&) = delete;
    TElPKCS11Module& operator=(const TElPKCS11Module&) = delete;

    int32_t GetRefCount() const { return refCount_; }
    // Set by whoever ran the library's C_Initialize successfully.
    bool Initialized = false;
    std::vector<std::unique_ptr<TElPKCS11ModuleObject>> Objects;

private:
    friend class TElPKCS11ModuleList;
    using FinalizeEntry = unsigned long (*)(void* reserved);

    plat::DynamicLibrary library_;
    FinalizeEntry finalize_ = nullptr;
    int32_t refCount_ = 1;
};

class TElPKCS11ModuleList final {
public:
    TElPKCS11ModuleList() = default;
    // Releases every record as often as its count requires.
    ~TElPKCS11ModuleList();
    TElPKCS11ModuleList(const TElPKCS11ModuleList&) = delete;
    TElPKCS11ModuleList& operator=(const TElPKCS11ModuleList&) = delete;

    // The list takes the record; answers it for later AddReference / ReleaseModule calls.
    TElPKCS11Module* Add(std::unique_ptr<TElPKCS11Module> module);
    // One more user of a record in the list.
    void AddReference(TElPKCS11Module* module);
    // One user fewer; at 0 the record is finalised, freed and its library unloaded. A record
    // that is not in the list is left alone.
    void ReleaseModule(TElPKCS11Module* module);
    // Releases the first record until the list is empty.
    void Clear();
    int32_t GetCount();

private:
    std::vector<std::unique_ptr<TElPKCS11Module>> modules_;
    TElSharedResource lock_;
};

// The program's module list.
TElPKCS11ModuleList& PKCS11ModuleList();
