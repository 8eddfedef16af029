// app/demo/kwDemoApp.cpp: kwDemoApp, the tiny application of `make demo` (scripts/demo) and of
// the launcher's end-to-end test, installed as "KWLOADERAPP.exe" beside a launcher named
// kwLoader. It only says that it started: its arguments, each in double quotes, and the data
// version that the update delivered ("versao.txt" beside it), on standard output and as one
// line appended to "log/aplicacao.log" beside it, which the demo script and the test read.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "platform/Process.h"

int main(int argc, char** argv) {
    const std::filesystem::path self(plat::CurrentExecutablePath());
    const std::filesystem::path pasta = self.parent_path();
    std::string versao = "(sem versao.txt)";
    if (std::ifstream in(pasta / "versao.txt"); in) {
        std::getline(in, versao);
        while (!versao.empty() && (versao.back() == '\r' || versao.back() == ' '))
            versao.pop_back();
    }
    std::ostringstream linha;
    linha << self.filename().string() << " iniciado; versão dos dados: " << versao << "; argumentos:";
    for (int i = 1; i < argc; ++i)
        linha << " \"" << argv[i] << "\"";
    std::cout << linha.str() << std::endl;
    std::filesystem::create_directories(pasta / "log");
    std::ofstream registro(pasta / "log" / "aplicacao.log", std::ios::app);
    registro << linha.str() << "\n";
    return registro ? 0 : 1;
}
