// platform/DynamicLibrary.cpp: dlopen/dlsym behind DynamicLibrary.
#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

#include <utility>

#include "rtl/Text.h"

namespace plat {

DynamicLibrary::~DynamicLibrary() { Unload(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      loadedName_(std::move(other.loadedName_)),
      lastError_(std::move(other.lastError_)),
      keepLoaded_(other.keepLoaded_) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        Unload();
        handle_ = std::exchange(other.handle_, nullptr);
        loadedName_ = std::move(other.loadedName_);
        lastError_ = std::move(other.lastError_);
        keepLoaded_ = other.keepLoaded_;
    }
    return *this;
}

bool DynamicLibrary::Load(const std::vector<std::string>& candidates) {
    Unload();
    lastError_.clear();
    for (const auto& name : candidates) {
        if (name.empty()) continue;
        dlerror();
        void* h = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (h != nullptr) {
            handle_ = h;
            loadedName_ = name;
            return true;
        }
        const char* err = dlerror();
        if (!lastError_.empty()) lastError_ += "; ";
        lastError_ += err ? err : ("cannot load " + name);
    }
    return false;
}

void DynamicLibrary::LoadOrThrow(const std::vector<std::string>& candidates) {
    if (Load(candidates)) return;
    std::string names;
    for (const auto& n : candidates) names += (names.empty() ? "" : ", ") + n;
    throw EDynamicLibraryError("cannot load library (" + names + "): " + lastError_);
}

void DynamicLibrary::Unload() {
    if (handle_ != nullptr && !keepLoaded_) dlclose(handle_);
    handle_ = nullptr;
    loadedName_.clear();
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return dlsym(handle_, name);
}

void* DynamicLibrary::Required(const char* name) const {
    void* p = Symbol(name);
    if (p == nullptr)
        throw EDynamicLibraryError("entry point " + std::string(name) + " not found in " +
                                   (loadedName_.empty() ? std::string("(no library loaded)") : loadedName_));
    return p;
}

std::string DynamicLibrary::FirstMissing(std::initializer_list<const char*> names) const {
    for (const char* n : names)
        if (Symbol(n) == nullptr) return n;
    return "";
}

std::vector<std::string> DynamicLibrary::SplitNames(std::string_view list) {
    std::vector<std::string> out;
    for (auto& n : rtl::SplitFields(list, ';')) {
        auto t = rtl::Trim(n);
        if (!t.empty()) out.push_back(t);
    }
    return out;
}

}  // namespace plat
