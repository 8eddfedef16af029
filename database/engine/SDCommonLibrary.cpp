// database/engine/SDCommonLibrary.cpp: client-library loading and workstation names.
#include "database/engine/SDCommonLibrary.h"

#include <dlfcn.h>
#include <link.h>

#include <filesystem>

#include "database/engine/SDCommon.h"
#include "platform/Process.h"
#include "platform/Workstation.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

std::string ClientLibraryName(const rtl::StringList& params, TSDServerType serverType,
                              const std::string& builtIn) {
    const std::string name = rtl::Trim(params.Values(GetApiLibraryParamName(serverType)));
    return name.empty() ? builtIn : name;
}

TSDModule LoadClientLibrary(const std::string& fileName) {
    auto module = std::make_unique<plat::DynamicLibrary>();
    if (!module->Load(fileName)) return nullptr;
    return module;
}

bool HasProcAddress(const plat::DynamicLibrary* module, const char* entryName) {
    return module != nullptr && module->Symbol(entryName) != nullptr;
}

std::string GetModulePath(const plat::DynamicLibrary* module) {
    constexpr int kInvalidHandle = 6;  // the Windows code callers know for a bad module handle
    if (module == nullptr || !module->IsLoaded())
        throw rtl::Exception(rtl::Format("System error %d", kInvalidHandle));
    // The module is loaded already: RTLD_NOLOAD only gives another reference to it, whose
    // link map names the file the loader chose.
    void* handle = dlopen(module->LoadedName().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) throw rtl::Exception(rtl::Format("System error %d", kInvalidHandle));
    link_map* map = nullptr;
    std::string path;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr)
        path = map->l_name;
    dlclose(handle);
    if (path.empty()) throw rtl::Exception(rtl::Format("System error %d", kInvalidHandle));
    return path.substr(0, 260);
}

std::string GetAppExeName() {
    return std::filesystem::path(plat::CurrentExecutablePath()).filename().string();
}

std::string GetClientHostName() {
    return plat::HostName().substr(0, 15);
}

int32_t GetFileVersionNumber(const std::string& fileName) {
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(fileName, ec);
    if (ec) return 0;
    const std::string name = real.filename().string();
    const size_t p = name.rfind(".so.");
    if (p == std::string::npos) return 0;
    const std::vector<std::string> parts = rtl::SplitFields(std::string_view(name).substr(p + 4), '.');
    int32_t major = 0;
    int32_t minor = 0;
    if (parts.empty() || !rtl::TryStrToInt(parts[0], major)) return 0;
    if (parts.size() > 1 && !rtl::TryStrToInt(parts[1], minor)) minor = 0;
    return MakeVersionNumber(major, minor);
}
