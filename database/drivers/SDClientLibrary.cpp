// database/drivers/SDClientLibrary.cpp: a driver's client library, bound by a name table.
#include "database/drivers/SDClientLibrary.h"

#include <cstring>

#include "rtl/Assert.h"
#include "rtl/Format.h"

namespace {

static_assert(sizeof(void (*)()) == sizeof(void*), "entry points are kept in pointer-sized slots");

void SetEntry(const TSDClientEntry& e, void* address) {
    std::memcpy(e.Slot, &address, sizeof address);
}

void ClearEntries(const std::vector<TSDClientEntry>& entries) {
    for (const TSDClientEntry& e : entries)
        SetEntry(e, nullptr);
}

}  // namespace

TSDClientLibrary::TSDClientLibrary(std::string defaultName, TSDServerType serverType, std::string serverName,
                                   std::string notFoundPattern)
    : defaultName_(std::move(defaultName)),
      serverType_(serverType),
      serverName_(std::move(serverName)),
      notFoundPattern_(std::move(notFoundPattern)),
      fileName_(defaultName_) {}

TSDClientLibrary::~TSDClientLibrary() {
    std::lock_guard<std::mutex> guard(lock_);
    if (bound_ != nullptr) ClearEntries(*bound_);
    module_.reset();
    loadCount_ = 0;
}

void TSDClientLibrary::TakeNameFromParams(const rtl::StringList& params) {
    std::lock_guard<std::mutex> guard(lock_);
    if (module_ != nullptr) return;
    fileName_ = ClientLibraryName(params, serverType_, fileName_);
}

void TSDClientLibrary::Load(const std::vector<TSDClientEntry>& entries, void (*afterLoad)()) {
    std::lock_guard<std::mutex> guard(lock_);
    if (loadCount_ > 0) {
        ++loadCount_;
        return;
    }
    TSDModule module = LoadClientLibrary(fileName_);
    if (module == nullptr) throw ESDSqlLibError(rtl::Format("Error loading library '%s'", fileName_));
    module_ = std::move(module);
    loadCount_ = 1;
    bound_ = &entries;
    fileVersion_ = GetFileVersionNumber(module_->LoadedName());
    if (fileVersion_ == 0) {
        // A bare name goes through the loader's search path: the file it found tells.
        try {
            fileVersion_ = GetFileVersionNumber(GetModulePath(module_.get()));
        } catch (const rtl::Exception&) {
            fileVersion_ = 0;
        }
    }
    // A library that is only half bound or not initialised must not stay counted as loaded:
    // the next connect would take the count and call what is not ready.
    const auto release = [&] {
        ClearEntries(entries);
        bound_ = nullptr;
        module_.reset();
        loadCount_ = 0;
        fileVersion_ = 0;
    };
    for (const TSDClientEntry& e : entries) {
        void* address = module_->Symbol(e.Name);
        SetEntry(e, address);
        if (address == nullptr && e.Required) {
            release();
            const char* name = e.DisplayName != nullptr ? e.DisplayName : e.Name;
            throw rtl::EAssertionFailed(notFoundPattern_.empty()
                                            ? rtl::Format("Function '%s' not found in %s library", name, serverName_)
                                            : rtl::Format(notFoundPattern_, name));
        }
    }
    if (afterLoad != nullptr) {
        try {
            afterLoad();
        } catch (...) {
            release();
            throw;
        }
    }
}

void TSDClientLibrary::Unload(const std::vector<TSDClientEntry>& entries, void (*beforeUnload)()) {
    std::lock_guard<std::mutex> guard(lock_);
    if (loadCount_ == 0) return;
    if (loadCount_ > 1) {
        --loadCount_;
        return;
    }
    if (beforeUnload != nullptr) beforeUnload();
    // Releasing a module cannot fail on this platform (the loader's refusal is not reported),
    // so there is no "Error unloading library" path here.
    ClearEntries(entries);
    bound_ = nullptr;
    module_.reset();
    loadCount_ = 0;
    fileVersion_ = 0;
}

std::string TSDClientLibrary::FileName() const {
    std::lock_guard<std::mutex> guard(lock_);
    return fileName_;
}

int TSDClientLibrary::LoadCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return loadCount_;
}

bool TSDClientLibrary::IsLoaded() const {
    std::lock_guard<std::mutex> guard(lock_);
    return module_ != nullptr;
}

std::string TSDClientLibrary::LoadedName() const {
    std::lock_guard<std::mutex> guard(lock_);
    return module_ != nullptr ? module_->LoadedName() : std::string();
}

int32_t TSDClientLibrary::FileVersion() const {
    std::lock_guard<std::mutex> guard(lock_);
    return fileVersion_;
}
