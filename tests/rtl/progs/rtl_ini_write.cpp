// rtl_ini_write: one INI write, as a program another user runs; what happened goes to OUT:
// "ok", or "error", the exception's message and the system's reason it carries, one per line.
//   rtl_ini_write FILE SECTION KEY VALUE OUT
#include <fstream>
#include <string>

#include "rtl/IniFile.h"
#include "rtl/Stream.h"

int main(int argc, char** argv) {
    if (argc < 6) return 100;
    std::ofstream out(argv[5], std::ios::binary);
    try {
        rtl::IniFile(argv[1]).WriteString(argv[2], argv[3], argv[4]);
        out << "ok\n";
        return 0;
    } catch (const rtl::Exception& e) {
        const rtl::FileFailure* f = rtl::FileFailureIn(e);
        out << "error\n" << e.Message() << "\n" << (f != nullptr ? f->Reason() : "") << "\n";
        return 1;
    }
}
