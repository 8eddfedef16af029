// crypto/prov/SBPKCS11ModuleList.cpp: reference counts, finalisation and unloading of PKCS#11
// libraries.
#include "crypto/prov/SBPKCS11ModuleList.h"

#include <algorithm>
#include <utility>

namespace {

class WriteLock {
public:
    explicit WriteLock(TElSharedResource& lock) : lock_(lock) { lock_.AcquireWrite(); }
    ~WriteLock() { lock_.Release(); }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

private:
    TElSharedResource& lock_;
};

}  // namespace

TElPKCS11Module::TElPKCS11Module(plat::DynamicLibrary library) : library_(std::move(library)) {
    if (library_.IsLoaded()) finalize_ = reinterpret_cast<FinalizeEntry>(library_.Symbol("C_Finalize"));
}

TElPKCS11ModuleList::~TElPKCS11ModuleList() {
    Clear();
}

TElPKCS11Module* TElPKCS11ModuleList::Add(std::unique_ptr<TElPKCS11Module> module) {
    WriteLock lock(lock_);
    modules_.push_back(std::move(module));
    return modules_.back().get();
}

void TElPKCS11ModuleList::AddReference(TElPKCS11Module* module) {
    WriteLock lock(lock_);
    for (auto& m : modules_)
        if (m.get() == module) ++m->refCount_;
}

void TElPKCS11ModuleList::ReleaseModule(TElPKCS11Module* module) {
    WriteLock lock(lock_);
    auto it = std::find_if(modules_.begin(), modules_.end(), [&](const auto& m) { return m.get() == module; });
    if (it == modules_.end()) return;
    if (--module->refCount_ > 0) return;
    // The record leaves the list first, so a failing step below cannot leave a record with a
    // count of 0 behind; the library is unloaded when the record goes, last.
    std::unique_ptr<TElPKCS11Module> record = std::move(*it);
    modules_.erase(it);
    if (record->Initialized) {
        for (auto& object : record->Objects)
            object.reset();
        record->Objects.clear();
        if (record->finalize_ != nullptr) record->finalize_(nullptr);
        record->Initialized = false;
    }
    plat::DynamicLibrary library = std::move(record->library_);
    record.reset();
    library.Unload();
}

void TElPKCS11ModuleList::Clear() {
    WriteLock lock(lock_);  // re-entrant: ReleaseModule takes it again
    while (!modules_.empty())
        ReleaseModule(modules_.front().get());
}

int32_t TElPKCS11ModuleList::GetCount() {
    WriteLock lock(lock_);
    return int32_t(modules_.size());
}

TElPKCS11ModuleList& PKCS11ModuleList() {
    static TElPKCS11ModuleList list;
    return list;
}
