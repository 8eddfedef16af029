// platform/WinPath.cpp: the mapping of Windows paths to local ones.
#include "platform/WinPath.h"

#include <cstdlib>
#include <vector>

#include "platform/Files.h"
#include "platform/Process.h"

namespace plat {

namespace {

std::string Env(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    return v ? std::string(v) : std::string();
}

bool IsSep(char c) {
    return c == '\\' || c == '/';
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

// rest (separators of either kind) joined under root. With clamp, "." is dropped and ".."
// removes the previous component but never one of the first `fixed` components.
std::string JoinUnder(const std::string& root, std::string_view rest, bool clamp, size_t fixed = 0) {
    std::vector<std::string> parts;
    std::string cur;
    auto flush = [&] {
        if (cur.empty()) return;
        if (clamp && cur == ".") {
        } else if (clamp && cur == "..") {
            if (parts.size() > fixed) parts.pop_back();
        } else {
            parts.push_back(cur);
        }
        cur.clear();
    };
    for (char c : rest) {
        if (IsSep(c))
            flush();
        else
            cur += c;
    }
    flush();
    const bool trailing = !rest.empty() && IsSep(rest.back());
    std::string out = root;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (out.empty() || out.back() != '/') out += '/';
        out += parts[i];
    }
    if (trailing && (out.empty() || out.back() != '/')) out += '/';
    return out;
}

// Backslashes to slashes and runs of separators collapsed, nothing else touched. Written
// through a pointer: every file a verification looks at has its path mapped.
std::string Plain(std::string_view text) {
    std::string out(text.size(), '\0');
    char* o = out.data();
    char previous = 0;
    for (char c : text) {
        const char d = c == '\\' ? '/' : c;
        if (d == '/' && previous == '/') continue;
        *o++ = d;
        previous = d;
    }
    out.resize(size_t(o - out.data()));
    return out;
}

std::string Root(const std::string& value) {
    std::string r = value;
    while (r.size() > 1 && r.back() == '/')
        r.pop_back();
    return r;
}

}  // namespace

std::string WindowsFolder(const std::string& launcherFolder) {
    const std::string env = Env("KW_WINDIR");
    if (!env.empty()) return WithSlash(env);
    return WithSlash(launcherFolder.empty() ? CurrentExecutableFolder() : launcherFolder) + "windows/";
}

std::string MapWindowsPath(std::string_view text, const std::string& launcherFolder, bool resolveCase) {
    std::string mapped;
    if (text.size() >= 2 && text[0] == '\\' && text[1] == '\\') {
        const std::string root = Env("KW_UNC_ROOT");
        if (root.empty())
            throw EPathMappingError("the network path \"" + std::string(text) +
                                    "\" has no local folder: set the environment variable KW_UNC_ROOT to the "
                                    "folder that holds the servers' shares (KW_UNC_ROOT/server/share)");
        mapped = JoinUnder(Root(root), text.substr(2), true, 2);
    } else if (text.size() >= 2 && text[1] == ':' &&
               ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'))) {
        const char letter = char(text[0] & ~0x20);
        const std::string var = std::string("KW_DRIVE_") + letter;
        const std::string root = Env(var);
        if (root.empty())
            throw EPathMappingError("the drive " + std::string(1, letter) + ": of the path \"" +
                                    std::string(text) + "\" is not mapped: set the environment variable " +
                                    var + " to the folder that stands for it");
        std::string_view rest = text.substr(2);
        mapped = rest.empty() ? root : JoinUnder(Root(root), rest, true);
    } else if (text.size() >= 2 && text[0] == '$' && IsSep(text[1])) {
        mapped = WindowsFolder(launcherFolder) + Plain(text.substr(2));
        // WindowsFolder ends in '/'; the rest may start with another separator.
        mapped = Plain(mapped);
    } else {
        mapped = Plain(text);
    }
    if (resolveCase) return ResolveCaseInsensitive(mapped);
    return mapped;
}

}  // namespace plat
