// tests/launcher/VerificacaoTestSupport.h: a launcher folder for the verification tests: the
// settings file, the log folder, the history, the launcher's version, and requisites lines
// built field by field.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/LauncherTestHooks.h"
#include "common/ukwUpdConfig.h"
#include "common/ukwUpdIni.h"
#include "common/ukwUpdLog.h"
#include "common/ukwUpdUtil.h"
#include "common/ukwUpdVersao.h"
#include "support/TestSupport.h"
#include "transfer/ukwFuncoesAPI.h"

namespace kwtest {

// One requisite; Linha(n) writes it in the 11-, 14- or 16-field layout.
struct Requisito {
    std::string sistema = "12", seq = "1", objeto = "a.dll", destino = "bin\\", origem = "", controle = "5",
                op = "1", site1 = "\\\\srv\\upd\\", usuario = "u", senha = "", crc = "", site2 = "",
                site3 = "", fl1 = "", fl2 = "", fl3 = "";

    std::string Linha(int campos) const {
        std::string s = sistema + ";" + seq + ";" + objeto + ";" + destino + ";" + origem + ";" + controle +
                        ";" + op + ";" + site1 + ";" + usuario + ";" + senha + ";" + crc;
        if (campos == 14) s += ";" + site2 + ";" + fl1 + ";" + fl2;
        if (campos == 16) s += ";" + site2 + ";" + site3 + ";" + fl1 + ";" + fl2 + ";" + fl3;
        return s + "\r\n";
    }
};

// A history record (8 fields).
inline std::string Historico(const std::string& sistema, const std::string& computador,
                             const std::string& objeto, const std::string& controle, const std::string& op,
                             const std::string& arquivo = "", const std::string& tamanho = "",
                             const std::string& dataHora = "") {
    return sistema + ";" + computador + ";" + objeto + ";" + controle + ";" + op + ";" + arquivo + ";" +
           tamanho + ";" + dataHora + "\r\n";
}

class PastaVerificacao : public ::testing::Test {
protected:
    void SetUp() override {
        Configure("");
        Versao(4087);
        estacao = PegueNomeComputador();
    }
    void TearDown() override { ResetLauncherBaseForTests(""); }

    // Writes kwCFG.ini with the given [KWUPDATE] lines and points the launcher base at the
    // folder (forgetting the settings read before).
    void Configure(const std::string& linhasKwUpdate) {
        WriteFile(dir / "kwCFG.ini", "[KWUPDATE]\r\nCdSistema=12\r\n" + linhasKwUpdate);
        const std::optional<int> versao = versao_;
        ResetLauncherBaseForTests((dir / "QOR.EXE").string());
        if (versao) Versao(*versao);
    }
    void Versao(int numero) {
        versao_ = numero;
        if (numero == 0) {
            SetLauncherExeName("");
            return;
        }
        SetLauncherExeName((dir / "QOR.EXE").string());
        SetLauncherVersionOverride(TkwVersaoArquivo{uint16_t(numero / 1000), uint16_t(numero / 100 % 10),
                                                    uint16_t(numero / 10 % 10), uint16_t(numero % 10)});
    }
    void GraveHistorico(const std::string& conteudo) { WriteFile(Log("kwExec.hst"), conteudo); }
    std::filesystem::path Log(const std::string& nome) const { return dir / "log" / nome; }

    // The texts of the log's lines, without their time stamps.
    static std::vector<std::string> Textos(const TkwUpdLog& log) {
        std::vector<std::string> r;
        for (const std::string& l : log.Linhas()) {
            const size_t p = l.find(" : ");
            r.push_back(p == std::string::npos ? l : l.substr(p + 3));
        }
        return r;
    }
    static bool TemLinha(const TkwUpdLog& log, const std::string& texto) {
        for (const std::string& t : Textos(log))
            if (t == texto) return true;
        return false;
    }

    TempDir dir;
    std::string estacao;

private:
    std::optional<int> versao_;
};

}  // namespace kwtest
