// The settings of "kwCFG.ini": every getter's default, switch rule, cache and log line, the
// KW3/KW4 generations, the database sections, the balancer lists, and "qor.ini".
#include "common/ukwUpdIni.h"

#include <gtest/gtest.h>

#include <functional>

#include "LauncherBaseTestSupport.h"
#include "common/ukwUpdConfig.h"

namespace {

using Getter = std::function<std::string(TkwUpdIni&)>;

std::string B(bool b) {
    return b ? "true" : "false";
}
std::string N(int32_t v) {
    return std::to_string(v);
}

struct Case {
    const char* what;
    std::string ini;
    Getter get;
    std::string want;
    // The detail line each call adds (empty: the getter logs nothing).
    std::string line;
};

const std::string kArq = " - kwCFG.ini -> ";

std::vector<Case> Cases() {
    return {
        // Plain text settings, each logged as label (section,key): "value".
        {"LocalUpdate", "[KWUPDATE]\nLocalUpdate=3\n", [](TkwUpdIni& i) { return i.LocalUpdate(); }, "3",
         kArq + "LocalUpdate (KWUPDATE,LocalUpdate): \"3\""},
        {"CdSistema quoted and padded", "[kwupdate]\n  cdsistema =  \" 12 \"  \n",
         [](TkwUpdIni& i) { return i.CdSistema(); }, " 12 ",
         kArq + "CdSistema (KWUPDATE,CdSistema): \" 12 \""},
        {"CdSistema absent", "[KWUPDATE]\n", [](TkwUpdIni& i) { return i.CdSistema(); }, "",
         kArq + "CdSistema (KWUPDATE,CdSistema): \"\""},
        {"AliasKw3", "[DataBaseName]\nAlias=BD3\n", [](TkwUpdIni& i) { return i.AliasKw3(); }, "BD3",
         kArq + "AliasKw3 (DataBaseName,Alias): \"BD3\""},
        {"EsquemaKw3", "[DATABASENAME]\nEsquema=esq\n", [](TkwUpdIni& i) { return i.EsquemaKw3(); }, "esq",
         kArq + "EsquemaKw3 (DataBaseName,Esquema): \"esq\""},
        {"AliasSessaoServidorKw4", "[Servidor]\nAlias=X\n",
         [](TkwUpdIni& i) { return i.AliasSessaoServidorKw4(); }, "X",
         kArq + "AliasSessaoServidorKw4 (Servidor,Alias): \"X\""},
        {"NomeServidorKw4", "[Servidor]\nnomeServidor=srv\n",
         [](TkwUpdIni& i) { return i.NomeServidorKw4(); }, "srv",
         kArq + "NomeServidorKw4 (Servidor,nomeServidor): \"srv\""},
        {"GuidServidorKw4", "[Servidor]\nGUIDServidor={G}\n",
         [](TkwUpdIni& i) { return i.GuidServidorKw4(); }, "{G}",
         kArq + "GuidServidorKw4 (Servidor,GUIDServidor): \"{G}\""},
        {"EnderecoIPKw4", "[Servidor]\nenderecoIP=10.0.0.1:211\n",
         [](TkwUpdIni& i) { return i.EnderecoIPKw4(); }, "10.0.0.1:211",
         kArq + "EnderecoIPKw4 (Servidor,enderecoIP): \"10.0.0.1:211\""},
        {"EnderecoURLKw4", "[Servidor]\nenderecoURL=http://h/x.dll\n",
         [](TkwUpdIni& i) { return i.EnderecoURLKw4(); }, "http://h/x.dll",
         kArq + "EnderecoURLKw4 (Servidor,enderecoURL): \"http://h/x.dll\""},
        {"TipoConexaoKw4", "[Servidor]\ntipoconexao=HTTP\n", [](TkwUpdIni& i) { return i.TipoConexaoKw4(); },
         "HTTP", kArq + "TipoConexaoKw4 (Servidor,tipoconexao): \"HTTP\""},
        {"GUIDKWBalanceadorKW4", "[kwBalanceador]\nGUID={B}\n",
         [](TkwUpdIni& i) { return i.GUIDKWBalanceadorKW4(); }, "{B}",
         kArq + "GUIDKWBalanceadorKW4 (kwBalanceador,GUID): \"{B}\""},
        // Server type: ASCII letters in any case; the stored form is logged.
        {"TipoServidor remoto", "[KWUPDATE]\nTipoServidor=remoto\n",
         [](TkwUpdIni& i) { return B(i.TipoServidor()); }, "true",
         kArq + "TipoServidor (KWUPDATE,TipoServidor): \"REMOTO\""},
        {"TipoServidor Local", "[KWUPDATE]\nTipoServidor=Local\n",
         [](TkwUpdIni& i) { return B(i.TipoServidor()); }, "false",
         kArq + "TipoServidor (KWUPDATE,TipoServidor): \"LOCAL\""},
        // Switches on unless "N": the stored value is logged.
        {"PodeAtualizar absent", "", [](TkwUpdIni& i) { return B(i.PodeAtualizar()); }, "true",
         kArq + "PodeAtualizar (KWUPDATE,PodeAtualizar): \"S\""},
        {"PodeAtualizar X", "[KWUPDATE]\nPodeAtualizar=X\n",
         [](TkwUpdIni& i) { return B(i.PodeAtualizar()); }, "true",
         kArq + "PodeAtualizar (KWUPDATE,PodeAtualizar): \"X\""},
        {"PodeAtualizar n", "[KWUPDATE]\nPodeAtualizar=n\n",
         [](TkwUpdIni& i) { return B(i.PodeAtualizar()); }, "false",
         kArq + "PodeAtualizar (KWUPDATE,PodeAtualizar): \"n\""},
        {"PodeAtualizar empty", "[KWUPDATE]\nPodeAtualizar=\n",
         [](TkwUpdIni& i) { return B(i.PodeAtualizar()); }, "true",
         kArq + "PodeAtualizar (KWUPDATE,PodeAtualizar): \"\""},
        {"UsaNomeComputador N", "[KWUPDATE]\nUsaNomeComputador=N\n",
         [](TkwUpdIni& i) { return B(i.UsaNomeComputador()); }, "false",
         kArq + "UsaNomeComputador (KWUPDATE,UsaNomeComputador): \"N\""},
        {"UsaNomeComputador absent", "", [](TkwUpdIni& i) { return B(i.UsaNomeComputador()); }, "true",
         kArq + "UsaNomeComputador (KWUPDATE,UsaNomeComputador): \"S\""},
        // Balancing only for "S" in any case.
        {"PodeBalancearKW4 absent", "", [](TkwUpdIni& i) { return B(i.PodeBalancearKW4()); }, "true",
         kArq + "PodeBalancearKW4 (Servidor,PodeBalancear): \"S\""},
        {"PodeBalancearKW4 s", "[Servidor]\nPodeBalancear=s\n",
         [](TkwUpdIni& i) { return B(i.PodeBalancearKW4()); }, "true",
         kArq + "PodeBalancearKW4 (Servidor,PodeBalancear): \"s\""},
        {"PodeBalancearKW4 X", "[Servidor]\nPodeBalancear=X\n",
         [](TkwUpdIni& i) { return B(i.PodeBalancearKW4()); }, "false",
         kArq + "PodeBalancearKW4 (Servidor,PodeBalancear): \"X\""},
        // Settings read without a log line.
        {"Alias", "[KWUPDATE]\nAlias=A\n", [](TkwUpdIni& i) { return i.Alias(); }, "A", ""},
        {"Server", "[KWUPDATE]\nServer=S1\n", [](TkwUpdIni& i) { return i.Server(); }, "S1", ""},
        {"EnderecoProxy", "[KWUPDATE]\nEnderecoProxy=proxy\n", [](TkwUpdIni& i) { return i.EnderecoProxy(); },
         "proxy", ""},
        {"Protocolo", "[KWUPDATE]\nProtocolo=DB2\nTipoBanco=ORACLE\n",
         [](TkwUpdIni& i) { return i.Protocolo(); }, "DB2", ""},
        {"Protocolo from TipoBanco", "[KWUPDATE]\nProtocolo=\nTipoBanco=ORACLE\n",
         [](TkwUpdIni& i) { return i.Protocolo(); }, "ORACLE", ""},
        {"EhKw4 with a DataBaseName key", "[DataBaseName]\nAlias=x\n",
         [](TkwUpdIni& i) { return B(i.EhKw4()); }, "false", ""},
        {"EhKw4 with a bare DataBaseName header", "[DataBaseName]\n[Servidor]\nAlias=x\n",
         [](TkwUpdIni& i) { return B(i.EhKw4()); }, "true", ""},
        {"EhKw4 without DataBaseName", "[Servidor]\nAlias=x\n", [](TkwUpdIni& i) { return B(i.EhKw4()); },
         "true", ""},
        // Numbers: defaults, and the default for a value that is not a whole number.
        {"MaximoTentativasDownload default", "", [](TkwUpdIni& i) { return N(i.MaximoTentativasDownload()); },
         "1", ""},
        {"MaximoTentativasDownload 3", "[KWUPDATE]\nMaximoTentativasDownload=3\n",
         [](TkwUpdIni& i) { return N(i.MaximoTentativasDownload()); }, "3", ""},
        {"TempoEspera default", "",
         [](TkwUpdIni& i) { return N(i.TempoEsperaSegundosNovaTentativaDownload()); }, "1", ""},
        {"TempoEspera 2.5", "[KWUPDATE]\nTempoEsperaSegundosNovaTentativaDownload=2.5\n",
         [](TkwUpdIni& i) { return N(i.TempoEsperaSegundosNovaTentativaDownload()); }, "1", ""},
        {"PortaProxy default", "", [](TkwUpdIni& i) { return N(i.PortaProxy()); }, "0", ""},
        {"PortaProxy 8080", "[KWUPDATE]\nPortaProxy=8080\n", [](TkwUpdIni& i) { return N(i.PortaProxy()); },
         "8080", ""},
        {"TimeoutConexaoBalanceador default", "",
         [](TkwUpdIni& i) { return N(i.TimeoutConexaoBalanceador()); }, "10", ""},
        {"TimeoutConexaoServidorAplicacao default", "",
         [](TkwUpdIni& i) { return N(i.TimeoutConexaoServidorAplicacao()); }, "60", ""},
        {"TimeoutConexaoServidorAplicacao 90", "[Servidor]\nTimeoutConexaoServidorAplicacao=90\n",
         [](TkwUpdIni& i) { return N(i.TimeoutConexaoServidorAplicacao()); }, "90", ""},
        {"TimeoutTesteRede default", "", [](TkwUpdIni& i) { return N(i.TimeoutTesteRede()); }, "4000", ""},
        {"TimeoutTesteRede abc", "[Servidor]\nTimeoutTesteRede=abc\n",
         [](TkwUpdIni& i) { return N(i.TimeoutTesteRede()); }, "4000", ""},
        {"TimeoutTesteRede 2", "[Servidor]\nTimeoutTesteRede=2\n",
         [](TkwUpdIni& i) { return N(i.TimeoutTesteRede()); }, "2000", ""},
        {"TimeoutTesteRede 0", "[Servidor]\nTimeoutTesteRede=0\n",
         [](TkwUpdIni& i) { return N(i.TimeoutTesteRede()); }, "0", ""},
        {"TimeoutTesteRede beyond milliseconds", "[Servidor]\nTimeoutTesteRede=3000000\n",
         [](TkwUpdIni& i) { return N(i.TimeoutTesteRede()); }, "4000", ""},
    };
}

TEST(TkwUpdIni, GettersDefaultsSwitchesAndLogLines) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.what);
        kwtest::LauncherFolder dir;
        dir.WriteOld("kwCFG.ini", c.ini);
        TkwUpdLog log;
        kwUpdIni().SetLog(&log);
        // Twice: the second call answers from the cache and logs again.
        EXPECT_EQ(c.get(kwUpdIni()), c.want);
        EXPECT_EQ(c.get(kwUpdIni()), c.want);
        const std::vector<std::string> want =
            c.line.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.line, c.line};
        EXPECT_EQ(kwtest::Texts(log), want);
    }
}

TEST(TkwUpdIni, AnInvalidServerTypeFailsWithoutLogging) {
    for (const std::string& valor : {std::string(""), std::string("WEB")}) {
        kwtest::LauncherFolder dir;
        dir.WriteOld("kwCFG.ini", "[KWUPDATE]\nTipoServidor=" + valor + "\n");
        TkwUpdLog log;
        kwUpdIni().SetLog(&log);
        try {
            kwUpdIni().TipoServidor();
            ADD_FAILURE() << "no failure for \"" << valor << "\"";
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message(),
                      "Tipo de servidor (kwCFG.ini: Sessão KWUPDATE, Ident: TipoServidor) é inválido. Valor "
                      "informado: \"" +
                          valor + "\".");
        }
        EXPECT_TRUE(log.Linhas().empty());
    }
}

TEST(TkwUpdIni, NothingIsLoggedWithoutALog) {
    kwtest::LauncherFolder dir;
    dir.WriteOld("kwCFG.ini", "[KWUPDATE]\nCdSistema=5\n");
    EXPECT_EQ(kwUpdIni().CdSistema(), "5");
    TkwUpdLog log;
    kwUpdIni().SetLog(&log);
    EXPECT_EQ(kwUpdIni().CdSistema(), "5");
    EXPECT_EQ(log.Linhas().size(), 1u);
}

// Rewrites the configuration with a new date, so the reader sees the change at its next read.
void Rewrite(const kwtest::LauncherFolder& dir, const std::string& content) {
    kwtest::WriteFile(dir / "kwCFG.ini", content);
    plat::SetFileLastWriteTime((dir / "kwCFG.ini").string(),
                               std::chrono::system_clock::now() - std::chrono::minutes(30));
}

TEST(TkwUpdIni, AValueOnceReadIsKeptButAnEmptyOneIsReadAgain) {
    kwtest::LauncherFolder dir;
    dir.WriteOld("kwCFG.ini", "[KWUPDATE]\nCdSistema=12\nLocalUpdate=\n");
    TkwUpdIni& ini = kwUpdIni();
    EXPECT_EQ(ini.CdSistema(), "12");
    EXPECT_EQ(ini.LocalUpdate(), "");
    Rewrite(dir, "[KWUPDATE]\nCdSistema=13\nLocalUpdate=4\n");
    EXPECT_EQ(ini.CdSistema(), "12");
    EXPECT_EQ(ini.LocalUpdate(), "4");
    Rewrite(dir, "[KWUPDATE]\nCdSistema=14\nLocalUpdate=5\n");
    EXPECT_EQ(ini.LocalUpdate(), "4");
}

TEST(TkwUpdIni, ANumberIsKeptUnlessItIsMinusOne) {
    kwtest::LauncherFolder dir;
    dir.WriteOld("kwCFG.ini", "[KWUPDATE]\nPortaProxy=-1\nMaximoTentativasDownload=2\n");
    TkwUpdIni& ini = kwUpdIni();
    EXPECT_EQ(ini.PortaProxy(), -1);
    EXPECT_EQ(ini.MaximoTentativasDownload(), 2);
    Rewrite(dir, "[KWUPDATE]\nPortaProxy=3128\nMaximoTentativasDownload=5\n");
    EXPECT_EQ(ini.PortaProxy(), 3128);
    EXPECT_EQ(ini.MaximoTentativasDownload(), 2);
}

TEST(TkwUpdIni, TheGenerationIsDecidedOnce) {
    kwtest::LauncherFolder dir;
    dir.WriteOld("kwCFG.ini", "[DataBaseName]\nAlias=x\n");
    EXPECT_FALSE(kwUpdIni().EhKw4());
    Rewrite(dir, "[Servidor]\n");
    EXPECT_FALSE(kwUpdIni().EhKw4());
}

TEST(TkwUpdIni, LongValuesAreCutAtTheProfileLimit) {
    kwtest::LauncherFolder dir;
    dir.WriteOld("kwCFG.ini", "[KWUPDATE]\nLocalUpdate=" + std::string(3000, '7') + "\n");
    EXPECT_EQ(kwUpdIni().LocalUpdate(), std::string(2047, '7'));
}

TEST(TkwUpdIni, DatabaseSectionFollowsTheServerAlias) {
    EXPECT_EQ(TkwUpdIni::SecaoDatabase(""), "Database");
    EXPECT_EQ(TkwUpdIni::SecaoDatabase("   "), "Database");
    EXPECT_EQ(TkwUpdIni::SecaoDatabase("X"), "Database_X");
    EXPECT_EQ(TkwUpdIni::SecaoDatabase(" X"), "Database_ X");

    const std::string ini =
        "[Database]\nAlias=padrao\nEsquema=e0\nProtocolo=DB2\nServer=s0\n"
        "[Database_X]\nAlias=bdx\nEsquema=ex\nTipoBanco=SQLSERVER\nServer=sx\n";
    struct Sub {
        std::string nome, alias, esquema, protocolo, server, secao;
    };
    for (const Sub& s : {Sub{"", "padrao", "e0", "DB2", "s0", "Database"},
                         Sub{"X", "bdx", "ex", "SQLSERVER", "sx", "Database_X"}}) {
        SCOPED_TRACE(s.secao);
        kwtest::LauncherFolder dir;
        dir.WriteOld("kwCFG.ini", ini + "[Servidor]\nAlias=" + s.nome + "\n");
        TkwUpdLog log;
        TkwUpdIni& i = kwUpdIni();
        i.SetLog(&log);
        const std::string nome = i.AliasSessaoServidorKw4();
        EXPECT_EQ(i.AliasKw4(nome), s.alias);
        EXPECT_EQ(i.EsquemaKw4(nome), s.esquema);
        EXPECT_EQ(i.ProtocoloKw4(nome), s.protocolo);
        EXPECT_EQ(i.ServerKw4(nome), s.server);
        const std::vector<std::string> want = {
            kArq + "AliasSessaoServidorKw4 (Servidor,Alias): \"" + s.nome + "\"",
            kArq + "AliasKw4 (" + s.secao + ",Alias): \"" + s.alias + "\"",
            kArq + "EsquemaKw4 (" + s.secao + ",Esquema): \"" + s.esquema + "\"",
        };
        EXPECT_EQ(kwtest::Texts(log), want);
        // One cache per getter, whatever section a later call names.
        EXPECT_EQ(i.AliasKw4(s.nome.empty() ? "X" : ""), s.alias);
        EXPECT_EQ(i.ProtocoloKw4(s.nome.empty() ? "X" : ""), s.protocolo);
    }
}

TEST(TkwUpdIni, BalancerListsScanAllFiveHundredKeysPastGaps) {
    kwtest::LauncherFolder dir;
    dir.WriteOld(
        "kwCFG.ini",
        "[kwBalanceador]\nEnderecoIP7=b:211\nEnderecoIP3=a:211\nEnderecoIP500=z\nEnderecoIP501=nunca\n"
        "EnderecoIP0=nunca\nEnderecoURL2=http://c/x.dll\nEnderecoURL4=\n");
    TkwUpdLog log;
    TkwUpdIni& ini = kwUpdIni();
    ini.SetLog(&log);
    EXPECT_EQ(ini.EnderecoIPKWBalanceadorKW4(), "a:211;b:211;z");
    EXPECT_EQ(ini.EnderecoURLKWBalanceadorKW4(), "http://c/x.dll");
    EXPECT_EQ(ini.EnderecosKWBalanceadorKW4(), "IP:a:211;IP:b:211;IP:z;URL:http://c/x.dll");
    const std::vector<std::string> want = {
        kArq + "EnderecoIPKWBalanceadorKW4 (kwBalanceador,EnderecoIP): \"a:211;b:211;z\"",
        kArq + "EnderecoURLKWBalanceadorKW4 (kwBalanceador,EnderecoURL): \"http://c/x.dll\"",
        // The combined list logs nothing of its own; the two lists it reads log as always.
        kArq + "EnderecoIPKWBalanceadorKW4 (kwBalanceador,EnderecoIP): \"a:211;b:211;z\"",
        kArq + "EnderecoURLKWBalanceadorKW4 (kwBalanceador,EnderecoURL): \"http://c/x.dll\"",
    };
    EXPECT_EQ(kwtest::Texts(log), want);
}

TEST(TkwUpdIni, CombinedBalancerList) {
    struct C {
        std::string ini, want;
    };
    const C cases[] = {
        {"", ""},
        {"EnderecoURL1=u1\nEnderecoURL9=u2\n", "URL:u1;URL:u2"},
        {"EnderecoIP2=i\n", "IP:i"},
        // An address holding ";" gives an empty field, where its part stops.
        {"EnderecoIP1=i1;;i2\nEnderecoURL1=u\n", "IP:i1;URL:u"},
    };
    for (const C& c : cases) {
        kwtest::LauncherFolder dir;
        dir.WriteOld("kwCFG.ini", "[kwBalanceador]\n" + c.ini);
        EXPECT_EQ(kwUpdIni().EnderecosKWBalanceadorKW4(), c.want) << c.ini;
    }
}

TEST(TkwUpdIni, AThousandKeysOfOneFileParseItOnce) {
    kwtest::LauncherFolder dir;
    std::string ini = "[kwBalanceador]\n";
    for (int i = 1; i <= 500; i += 7)
        ini += "EnderecoIP" + std::to_string(i) + "=h" + std::to_string(i) + "\n";
    dir.WriteOld("kwCFG.ini", ini);
    TkwUpdIni& leitor = kwUpdIni();
    leitor.EnderecoIPKWBalanceadorKW4();
    leitor.EnderecoURLKWBalanceadorKW4();
    leitor.CdSistema();
    EXPECT_EQ(leitor.Leitor().ParseCount(), 1u);
}

TEST(TkwQorIni, OfflineStartOnlyForAnUpperCaseS) {
    struct C {
        std::string qor;
        bool want;
    };
    const C cases[] = {
        {"[NONET]\nUSAGRAVACAOOFFLINE=S\n", true},
        {"[nonet]\nusagravacaooffline= S \n", true},
        {"[NONET]\nUSAGRAVACAOOFFLINE=s\n", false},
        {"[NONET]\nUSAGRAVACAOOFFLINE=N\n", false},
        {"", false},
    };
    for (const C& c : cases) {
        kwtest::LauncherFolder dir;
        if (!c.qor.empty()) kwtest::WriteFile(dir / "qor.ini", c.qor);
        TkwQorIni qor;
        EXPECT_EQ(qor.UsaGravacaoOffline(), c.want) << c.qor;
    }
    // Read at every call.
    kwtest::LauncherFolder dir;
    TkwQorIni qor;
    EXPECT_FALSE(qor.UsaGravacaoOffline());
    kwtest::WriteFile(dir / "qor.ini", "[NONET]\nUSAGRAVACAOOFFLINE=S\n");
    EXPECT_TRUE(qor.UsaGravacaoOffline());
}

}  // namespace
