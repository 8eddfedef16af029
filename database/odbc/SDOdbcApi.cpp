// database/odbc/SDOdbcApi.cpp: the bound ODBC function table and a driver unit's library state.
#include "database/odbc/SDOdbcApi.h"

#include <chrono>
#include <thread>

#include "database/engine/SDCommonSqlText.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

void TOdbcFunctions::BindEntryPoints(const plat::DynamicLibrary* module) {
    Module = module;
#define KW_ODBC_BIND_ENTRY(name, params, args) \
    name = reinterpret_cast<decltype(name)>(module != nullptr ? module->Symbol(#name) : nullptr);
    KW_ODBC_ENTRY_POINTS(KW_ODBC_BIND_ENTRY)
#undef KW_ODBC_BIND_ENTRY
}

void TOdbcFunctions::ClearEntryPoints() {
#define KW_ODBC_CLEAR_ENTRY(name, params, args) name = nullptr;
    KW_ODBC_ENTRY_POINTS(KW_ODBC_CLEAR_ENTRY)
#undef KW_ODBC_CLEAR_ENTRY
    Module = nullptr;
}

bool TOdbcFunctions::HasEntryPoint(const char* name) const {
    return HasProcAddress(Module, name);
}

int TOdbcFunctions::EntryPointCount() const {
    int count = 0;
#define KW_ODBC_COUNT_ENTRY(name, params, args) ++count;
    KW_ODBC_ENTRY_POINTS(KW_ODBC_COUNT_ENTRY)
#undef KW_ODBC_COUNT_ENTRY
    return count;
}

TOdbcClientLibrary::TOdbcClientLibrary(TOdbcLibraryRules rules, std::unique_ptr<TOdbcFunctions> functions)
    : rules_(std::move(rules)), fileName_(rules_.DefaultName), functions_(std::move(functions)) {}

TOdbcClientLibrary::~TOdbcClientLibrary() {
    // At process end nothing may be left referring to the module; release what connections
    // forgot to give back.
    std::lock_guard<std::mutex> guard(lock_);
    functions_->ClearEntryPoints();
    module_.reset();
    loadCount_ = 0;
}

void TOdbcClientLibrary::TakeNameFromParams(const rtl::StringList& params) {
    std::lock_guard<std::mutex> guard(lock_);
    if (module_ != nullptr) return;
    fileName_ = ClientLibraryName(params, rules_.ServerType, fileName_);
}

void TOdbcClientLibrary::Load() {
    std::lock_guard<std::mutex> guard(lock_);
    if (loadCount_ > 0) {
        ++loadCount_;
        return;
    }
    TSDModule module;
    if (rules_.NameIsList) {
        int position = 1;
        while (module == nullptr && position <= int(fileName_.size())) {
            const std::string item = ExtractListItem(fileName_, ';', position);
            if (!item.empty()) module = LoadClientLibrary(item);
        }
    } else {
        module = LoadClientLibrary(fileName_);
    }
    if (module == nullptr) throw ESDSqlLibError(rtl::Format("Error loading library '%s'", fileName_));
    module_ = std::move(module);
    loadCount_ = 1;
    functions_->BindEntryPoints(module_.get());
}

void TOdbcClientLibrary::Unload() {
    std::lock_guard<std::mutex> guard(lock_);
    if (loadCount_ == 0) return;
    if (loadCount_ > 1) {
        --loadCount_;
        return;
    }
    // The Informix library may still be finishing work of its own when the last connection
    // goes; it gets a moment before its module is released.
    if (rules_.GentleRelease) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Releasing a module cannot fail on this platform (the loader's refusal is not reported),
    // so there is no "Error unloading library" path here.
    functions_->ClearEntryPoints();
    module_.reset();
    loadCount_ = 0;
}

std::string TOdbcClientLibrary::FileName() const {
    std::lock_guard<std::mutex> guard(lock_);
    return fileName_;
}

int TOdbcClientLibrary::LoadCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return loadCount_;
}

bool TOdbcClientLibrary::IsLoaded() const {
    std::lock_guard<std::mutex> guard(lock_);
    return module_ != nullptr;
}

std::string TOdbcClientLibrary::LoadedName() const {
    std::lock_guard<std::mutex> guard(lock_);
    return module_ != nullptr ? module_->LoadedName() : std::string();
}

std::string OdbcAttributeValue(const std::string& value) {
    const bool edgeBlank = !value.empty() && (value.front() == ' ' || value.back() == ' ');
    if (value.find_first_of(";{}") == std::string::npos && !edgeBlank) return value;
    return "{" + rtl::StringReplace(value, "}", "}}") + "}";
}
