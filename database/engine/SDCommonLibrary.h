// database/engine/SDCommonLibrary.h: client libraries and workstation names for the drivers (part
// of unit SDCommon).
//
// Drivers load their client library by file name at run time and bind it entry point by
// entry point (platform/DynamicLibrary does the loading); a library that does not load gives
// no module, and the driver raises ESDSqlLibError with its own message. This file is one of
// the SQL library's platform bindings: it asks the dynamic loader for a module's full path.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/DynamicLibrary.h"

#include "database/engine/SDCommon.h"
#include "rtl/StringList.h"

// A loaded client library; nullptr while none is loaded. Releasing it unloads the library.
using TSDModule = std::unique_ptr<plat::DynamicLibrary>;

// The factories' rule for the client library's file name (or ";"-separated list): the
// trimmed value of the parameter "<server name> API LIBRARY" when it is not empty, else the
// driver's built-in name. A factory asks only while its library is not loaded yet.
std::string ClientLibraryName(const rtl::StringList& params, TSDServerType serverType,
                              const std::string& builtIn);

// The library loaded by that file name (a bare name goes through the loader's search path),
// or nullptr when it cannot be loaded.
TSDModule LoadClientLibrary(const std::string& fileName);
// Whether the module exports the entry point.
bool HasProcAddress(const plat::DynamicLibrary* module, const char* entryName);
// The module's full file name (at most 260 characters); a plain rtl::Exception "System error
// %d" when it cannot be given (6, an invalid handle, without a loaded module).
std::string GetModulePath(const plat::DynamicLibrary* module);

// The running program's file name without its folder.
std::string GetAppExeName();
// The computer name, at most 15 characters; "" when the system does not give it.
std::string GetClientHostName();

// The version of a library file as a version number (major in the high 16 bits). Linux
// libraries carry no version resource; the number is read from the ".so.<major>.<minor>"
// suffix of the file that the name leads to (symbolic links followed); 0 when there is none.
int32_t GetFileVersionNumber(const std::string& fileName);
