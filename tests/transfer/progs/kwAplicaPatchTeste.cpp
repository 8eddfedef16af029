// kwAplicaPatchTeste: a stand-in for the patch tool "kwAplicaPatch.exe", installed under that
// name in a test's launcher folder. It records its argument vector (argv[0] included, each
// followed by a NUL byte) in "<its own path>.argv", then, as the environment tells it:
//   KW_PATCH_ESPERE=FILE     waits (at most a minute) until FILE exists; ends with 9 if never
//   KW_PATCH_NAO_PRODUZ=1    does not write the file to produce
//   KW_PATCH_SAIDA=N         ends with code N (default 0)
// The file to produce (argv[2]) is the old file's bytes, "+", the patch file's bytes. It
// writes "kwAplicaPatch <argc>" to standard output and "aviso" to standard error.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string Leia(const char* caminho) {
    std::ifstream in(caminho, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

int main(int argc, char** argv) {
    char proprio[4096];
    const ssize_t n = ::readlink("/proc/self/exe", proprio, sizeof proprio - 1);
    if (n <= 0) return 8;
    proprio[n] = '\0';
    {
        std::ofstream registro(std::string(proprio) + ".argv", std::ios::binary | std::ios::trunc);
        for (int i = 0; i < argc; ++i)
            registro << argv[i] << '\0';
    }
    std::printf("kwAplicaPatch %d", argc);
    std::fflush(stdout);
    std::fputs("aviso", stderr);
    if (const char* espere = std::getenv("KW_PATCH_ESPERE")) {
        int i = 0;
        while (::access(espere, F_OK) != 0) {
            if (++i > 60000) return 9;
            ::usleep(1000);
        }
    }
    const char* produz = std::getenv("KW_PATCH_NAO_PRODUZ");
    if (argc == 4 && (produz == nullptr || std::string(produz) != "1")) {
        std::ofstream novo(argv[2], std::ios::binary | std::ios::trunc);
        novo << Leia(argv[1]) << '+' << Leia(argv[3]);
    }
    const char* saida = std::getenv("KW_PATCH_SAIDA");
    return saida ? std::atoi(saida) : 0;
}
