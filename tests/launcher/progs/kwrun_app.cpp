// kwrun_app: stands in for the programs the launcher starts (the application, the update
// executor, the offline application). Copied into a launcher folder under their names.
//
// It records the arguments it received (argv[1] onwards, each followed by a NUL byte) in
// "<its own path>.argv", written whole through a rename so a reader never sees half of it.
// When "<its own path>.hold" exists as it starts, it keeps running until
// "<its own path>.stop" appears: a running copy of the application.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/Process.h"

int main(int argc, char** argv) {
    const std::string self = plat::CurrentExecutablePath();
    std::string record;
    for (int i = 1; i < argc; ++i) {
        record += argv[i];
        record += '\0';
    }
    {
        std::ofstream out(self + ".argv.tmp", std::ios::binary | std::ios::trunc);
        out << record;
    }
    std::rename((self + ".argv.tmp").c_str(), (self + ".argv").c_str());
    if (std::filesystem::exists(self + ".hold")) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(5);
        // Also ends when its folder is gone: a test that failed half-way leaves nothing running.
        while (!std::filesystem::exists(self + ".stop") && std::filesystem::exists(self) &&
               std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}
