// kwbase_argv_record: records the arguments it was started with in "<argv[0]>.args", one
// "<length>:<bytes>" line per argument, written under another name and renamed, so a test that
// sees the file sees all of it.
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    const std::string target = std::string(argv[0]) + ".args";
    const std::string temp = target + ".tmp";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (f == nullptr) return 2;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        std::fprintf(f, "%zu:", a.size());
        std::fwrite(a.data(), 1, a.size(), f);
        std::fputc('\n', f);
    }
    std::fclose(f);
    return std::rename(temp.c_str(), target.c_str()) == 0 ? 0 : 3;
}
