// The workstation's identity against what Python's standard library and the system's tools
// report for the same machine.
#include "transfer/ukwFuncoesAPI.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "rtl/Text.h"
#include "support/TestSupport.h"

namespace {

// The first line a shell command prints, or nullopt-like "" with ok false when it fails.
bool Saida(const std::string& comando, std::string& linha) {
    std::unique_ptr<FILE, int (*)(FILE*)> p(::popen(comando.c_str(), "r"), ::pclose);
    if (!p) return false;
    std::array<char, 512> buf{};
    linha.clear();
    if (std::fgets(buf.data(), int(buf.size()), p.get()) != nullptr) linha = buf.data();
    while (!linha.empty() && (linha.back() == '\n' || linha.back() == '\r'))
        linha.pop_back();
    return ::pclose(p.release()) == 0;
}

TEST(ukwFuncoesAPI, NameAndUserAsPythonSeesThem) {
    std::string nome;
    const bool temPython = Saida(
        "python3 -c \"import socket\ntry:\n print(socket.gethostbyname_ex(socket.gethostname())[0])\n"
        "except OSError:\n print(socket.gethostname())\" 2>/dev/null",
        nome);
    KW_REQUIRE_PEER(temPython, "python3");
    EXPECT_EQ(PegueNomeComputador(), nome);

    std::string usuario;
    ASSERT_TRUE(Saida("id -un", usuario));
    EXPECT_EQ(PegueUsuarioLogado(), usuario);
}

TEST(ukwFuncoesAPI, AddressIsOneOfTheMachinesIPv4Addresses) {
    std::string enderecos;
    KW_REQUIRE_PEER(Saida("ip -4 -o addr show | awk '{printf \"%s \", $4}'", enderecos), "ip (iproute2)");
    const std::string ip = PegueIPLocal();
    ASSERT_FALSE(ip.empty());
    if (ip == "127.0.0.1") {
        // Only a machine whose every address is a loopback one answers the loopback address.
        for (const std::string& e : rtl::SplitFields(rtl::Trim(enderecos), ' ')) {
            EXPECT_EQ(e.compare(0, 4, "127."), 0) << enderecos;
        }
        return;
    }
    EXPECT_NE((" " + enderecos + " ").find(" " + ip + "/"), std::string::npos) << enderecos;
}

}  // namespace
