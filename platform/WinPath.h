// platform/WinPath.h: Windows paths from requisites and settings turned into paths here.
//
// Requisites and configuration files name files the Windows way ("C:\Sistema\QOR.exe",
// "$\system32\x.dll", "\\servidor\pasta\a.exe", "bin\a.dll"). One routine maps them:
//   - '\' becomes '/';
//   - "X:\..." is under the folder named by the environment variable KW_DRIVE_X (the letter
//     in upper case, whatever case the path uses); an unmapped drive is an error that names
//     the variable to set;
//   - "$\..." (the Windows folder) is under KW_WINDIR, by default "<launcher folder>/windows/";
//   - "\\server\share\..." is under KW_UNC_ROOT/server/share/, an error naming the variable
//     when it is not set;
//   - anything else (a relative path, or a path that is already one of ours) keeps its form;
//   - then, when the exact name does not exist, an existing file or folder that matches it
//     without regard to case is taken (plat::ResolveCaseInsensitive).
// As on Windows, ".." never climbs above a drive's root or a share: "C:\..\x" is "C:\x".
// Runs of separators collapse into one, and a trailing separator (a folder) is kept.
#pragma once

#include <string>
#include <string_view>

#include "rtl/Exception.h"

namespace plat {

RTL_EXCEPTION(EPathMappingError, rtl::Exception);

// The folder that stands for the Windows folder, ending in '/': KW_WINDIR when set, else
// launcherFolder + "windows/". An empty launcherFolder means this program's own folder.
std::string WindowsFolder(const std::string& launcherFolder = "");

// The local path for a Windows path (see above). Raises EPathMappingError for a drive or a
// network path that has no local folder. Without resolveCase the path is only mapped, never
// looked at: a caller that looks at the file anyway can try the exact name first and resolve
// the case only when nothing is there, saving a system call per file.
std::string MapWindowsPath(std::string_view text, const std::string& launcherFolder = "",
                           bool resolveCase = true);

}  // namespace plat
