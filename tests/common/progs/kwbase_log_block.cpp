// kwbase_log_block: a launcher's end as far as its log goes: adds a block of N lines naming ID
// to a log and saves it in front of FILE's old blocks, as every run does when it ends; then
// prints its peak resident memory ("maxrss_kb=<n>").
//   kwbase_log_block FILE ID N
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/ukwUpdLog.h"

int main(int argc, char** argv) {
    if (argc < 4) return 100;
    TkwUpdLog log;
    const int n = std::atoi(argv[3]);
    for (int i = 0; i < n; ++i)
        log.Adicione(std::string("bloco ") + argv[2] + " linha " + std::to_string(i));
    try {
        log.SalveEmArquivo(argv[1], true);
    } catch (const std::exception&) {
        return 1;
    }
    rusage uso{};
    ::getrusage(RUSAGE_SELF, &uso);
    std::printf("maxrss_kb=%ld\n", uso.ru_maxrss);
    return 0;
}
