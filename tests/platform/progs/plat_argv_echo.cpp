// plat_argv_echo: writes its working folder and its argument vector to standard output, each
// item as "<length>:<bytes>" on a line of its own, so a test can compare them byte for byte
// (blanks, quotes, empty arguments, line feeds and UTF-8 included).
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {
void Item(const char* tag, const std::string& s) {
    std::printf("%s %zu:", tag, s.size());
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::printf("\n");
}
}  // namespace

int main(int argc, char** argv) {
    char cwd[4096] = {};
    if (::getcwd(cwd, sizeof cwd) == nullptr) return 2;
    Item("cwd", cwd);
    Item("argv0", argv[0]);
    std::printf("argc %d\n", argc - 1);
    for (int i = 1; i < argc; ++i)
        Item("arg", argv[i]);
    return 0;
}
