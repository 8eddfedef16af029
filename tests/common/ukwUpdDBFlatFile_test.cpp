// Tests of the line-file data set and its three layouts: reading and navigating, writing
// records, saving and loading (atomic, read-only files, owner-only files), and the choice of
// layout by the launcher's version and by a text's first line.
#include "common/ukwUpdDBFlatFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <random>

#include "common/ukwUpdLog.h"
#include "common/ukwUpdUtil.h"
#include "common/ukwUpdVersao.h"
#include "platform/Files.h"
#include "rtl/Exception.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

// Gives the launcher a version number for the lifetime of the object (0: no version at all).
class VersaoLauncher {
public:
    explicit VersaoLauncher(int numero) {
        if (numero == 0) {
            SetLauncherExeName("");
            return;
        }
        SetLauncherExeName(ObtenhaCaminhoExecutavel());
        SetLauncherVersionOverride(TkwVersaoArquivo{uint16_t(numero / 1000), uint16_t(numero / 100 % 10),
                                                    uint16_t(numero / 10 % 10), uint16_t(numero % 10)});
    }
    ~VersaoLauncher() {
        SetLauncherVersionOverride(std::nullopt);
        SetLauncherExeName("");
    }
};

// A data set with a fixed three-field layout.
class TresCampos : public TkwUpdDBFlatFile {
public:
    TresCampos() { DefinaCampos({"cdSistema", "nmObjeto", "nuControle"}); }
};

std::vector<std::string> Valores(TkwUpdDBFlatFile& ds) {
    std::vector<std::string> v;
    for (const std::string& n : ds.NomesCampos())
        v.push_back(ds.CampoPorNome(n));
    return v;
}

unsigned Modo(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::stat(p.c_str(), &st), 0);
    return st.st_mode & 0777;
}

TEST(TkwUpdDBFlatFile, ReadsFieldsTrimmedFillsMissingIgnoresExtra) {
    TresCampos ds;
    ds.SetTexto("1; a.exe ;7\r\n2;b.dll\n3;c.ocx;9;extra;more\r  4 ;;\r\n");
    ASSERT_EQ(ds.RecordCount(), 4);
    EXPECT_EQ(ds.Cursor(), -1);  // setting a text does not move
    struct Caso {
        std::vector<std::string> valores;
        int presentes;  // fields the line holds, up to the layout's
    };
    const Caso casos[] = {
        {{"1", "a.exe", "7"}, 3}, {{"2", "b.dll", ""}, 2}, {{"3", "c.ocx", "9"}, 3}, {{"4", "", ""}, 3}};
    ds.First();
    for (const Caso& c : casos) {
        ASSERT_FALSE(ds.Eof());
        EXPECT_EQ(Valores(ds), c.valores) << "record " << ds.Cursor();
        EXPECT_EQ(ds.CamposPresentes(), c.presentes) << "record " << ds.Cursor();
        ds.Next();
    }
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(ds.CamposPresentes(), 0);
    EXPECT_EQ(ds.Cursor(), 4);
    EXPECT_EQ(Valores(ds), (std::vector<std::string>{"", "", ""}));  // past the end: all empty
    EXPECT_EQ(ds.ValorCampo(0), "");
    ds.Prior();
    EXPECT_EQ(ds.ValorCampo(0), "4");
    EXPECT_EQ(ds.ValorCampo(3), "");
    EXPECT_EQ(ds.CamposPrimeiraLinha(), 3);
}

// A reader of many records takes a line's fields without the cursor: the same values and the
// same count of fields present as a move to that record.
TEST(TkwUpdDBFlatFile, SepareCamposReadsALineAsAMoveDoes) {
    struct Caso {
        const char* linha;
        std::vector<std::string> valores;
        int presentes;
    };
    const Caso casos[] = {
        {"1; a.exe ;7", {"1", "a.exe", "7"}, 3},
        {"2;b.dll", {"2", "b.dll", ""}, 2},
        {"3;c.ocx;9;extra;more", {"3", "c.ocx", "9"}, 3},
        {"  4 ;;", {"4", "", ""}, 3},
        {"", {"", "", ""}, 1},
        {";;", {"", "", ""}, 3},
        {"\t5\t; x y ;", {"5", "x y", ""}, 3},
        {"6", {"6", "", ""}, 1},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.linha);
        TresCampos ds;
        ds.SetTexto(std::string(c.linha) + "\r\n");
        ASSERT_EQ(ds.RecordCount(), 1);
        EXPECT_EQ(ds.Linha(0), c.linha);
        std::string_view campos[3] = {"lixo", "lixo", "lixo"};
        EXPECT_EQ(ds.SepareCampos(ds.Linha(0), campos), c.presentes);
        EXPECT_EQ(std::vector<std::string>(std::begin(campos), std::end(campos)), c.valores);
        ds.First();
        EXPECT_EQ(Valores(ds), c.valores);
        EXPECT_EQ(ds.CamposPresentes(), c.presentes);
    }
}

TEST(TkwUpdDBFlatFile, CursorRulesOnEmptyAndAtTheEdges) {
    TresCampos ds;
    EXPECT_TRUE(ds.Bof());
    EXPECT_TRUE(ds.Eof());
    ds.First();
    EXPECT_EQ(ds.Cursor(), -1);
    EXPECT_TRUE(ds.Eof());
    EXPECT_FALSE(ds.MoveTo(0));

    ds.SetTexto("a;b;c\r\nd;e;f\r\n");
    EXPECT_FALSE(ds.MoveTo(-2));
    EXPECT_FALSE(ds.MoveTo(3));
    EXPECT_TRUE(ds.MoveTo(2));  // one past the last record is a valid place
    EXPECT_TRUE(ds.Eof());
    EXPECT_TRUE(ds.MoveTo(-1));
    EXPECT_TRUE(ds.Bof());
    ds.Last();
    EXPECT_EQ(ds.CampoPorNome("cdSistema"), "d");
    const std::string texto = ds.GetTexto();  // moves to the first record
    EXPECT_EQ(texto, "a;b;c\r\nd;e;f\r\n");
    EXPECT_EQ(ds.Cursor(), 0);
}

TEST(TkwUpdDBFlatFile, WritesValuesWithoutSeparatorsOrBlanksAndOneSeparatorPerField) {
    TresCampos ds;
    ds.Append();
    ds.AtribuaCampo("nuControle", "  7;1 ");
    ds.Post();
    ds.Append();
    ds.AtribuaCampo("cdsistema", ";");  // names in any case
    ds.AtribuaCampo("NMOBJETO", " ; a ; b ; ");
    ds.Post();
    EXPECT_EQ(ds.GetTexto(), ";;71\r\n;a  b;\r\n");
    // A value changed without Post stays out of the line; the record buffer is empty again.
    ds.First();
    ds.AtribuaCampo("nmObjeto", "x");
    EXPECT_EQ(ds.ValorCampo(1), "");
    // Rewriting the current record keeps the fields that are not assigned.
    ds.LimpeRegistro();
    ds.AtribuaCampo("nmObjeto", "y");
    ds.Post();
    EXPECT_EQ(ds.GetTexto(), ";y;71\r\n;a  b;\r\n");
    EXPECT_TRUE(ds.CampoNulo("cdSistema"));
    EXPECT_FALSE(ds.CampoNulo("nuControle"));
}

TEST(TkwUpdDBFlatFile, UnknownFieldNamesTheFieldAsGiven) {
    TresCampos ds;
    EXPECT_TRUE(ds.PossuiCampo("nmobjeto"));
    EXPECT_FALSE(ds.PossuiCampo("flDisponivel3"));
    for (auto f : {+[](TkwUpdDBFlatFile& d) { d.CampoPorNome("flDisponivel3"); },
                   +[](TkwUpdDBFlatFile& d) { d.AtribuaCampo("flDisponivel3", "S"); },
                   +[](TkwUpdDBFlatFile& d) { d.CampoNulo("flDisponivel3"); }}) {
        try {
            f(ds);
            ADD_FAILURE() << "no exception";
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message(), "O campo \"flDisponivel3\" não existe.");
        }
    }
}

TEST(TkwUpdDBFlatFile, PostAndDeleteOutsideTheRecordsFail) {
    TresCampos ds;
    EXPECT_THROW(ds.Post(), rtl::EListError);
    ds.SetTexto("a;b;c\r\n");
    EXPECT_THROW(ds.Post(), rtl::EListError);  // cursor -1
    ds.MoveTo(1);
    EXPECT_THROW(ds.Post(), rtl::EListError);  // past the last
    EXPECT_THROW(ds.Delete(), rtl::EListError);
    EXPECT_EQ(ds.GetTexto(), "a;b;c\r\n");
}

TEST(TkwUpdDBFlatFile, DeleteMovesToThePriorRecord) {
    struct Caso {
        int apagar;
        const char* texto;
        int cursor;
        const char* atual;
    };
    const Caso casos[] = {
        {2, "a;;\r\nb;;\r\n", 1, "b"},  // the last: the new last
        {1, "a;;\r\nc;;\r\n", 0, "a"},
        {0, "b;;\r\nc;;\r\n", -1, ""},  // the first: before the first
    };
    for (const Caso& c : casos) {
        TresCampos ds;
        ds.SetTexto("a\r\nb\r\nc\r\n");
        ds.MoveTo(c.apagar);
        ds.Delete();
        EXPECT_EQ(ds.Cursor(), c.cursor) << c.apagar;
        EXPECT_EQ(ds.CampoPorNome("cdSistema"), c.atual) << c.apagar;
        ds.First();
        ds.LimpeRegistro();
        ds.Post();  // rewrites the record through the layout
        EXPECT_EQ(ds.GetTexto().substr(0, 5), std::string(c.texto).substr(0, 5)) << c.apagar;
    }
    TresCampos so;
    so.SetTexto("a;b;c");
    so.First();
    so.Delete();
    EXPECT_TRUE(so.IsEmpty());
    EXPECT_TRUE(so.Eof());
    EXPECT_TRUE(so.Bof());
}

TEST(TkwUpdDBFlatFile, LoadKeepsContentForAMissingFileAndReadsAnEmptyOne) {
    kwtest::TempDir dir;
    TresCampos ds;
    ds.SetTexto("a;b;c\r\n");
    EXPECT_FALSE(ds.LoadFromFile((dir / "nada.hst").string()));
    EXPECT_EQ(ds.RecordCount(), 1);
    EXPECT_EQ(ds.FileName(), (dir / "nada.hst").string());

    kwtest::WriteFile(dir / "vazio.hst", "");
    EXPECT_TRUE(ds.LoadFromFile((dir / "vazio.hst").string()));
    EXPECT_TRUE(ds.IsEmpty());
    EXPECT_TRUE(ds.Eof());
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(ds.CamposPrimeiraLinha(), 0);

    kwtest::WriteFile(dir / "dois.hst", "x;y\ny;z;w;v");  // no final line end
    EXPECT_TRUE(ds.LoadFromFile((dir / "dois.hst").string()));
    EXPECT_EQ(ds.Cursor(), 0);
    EXPECT_EQ(Valores(ds), (std::vector<std::string>{"x", "y", ""}));
    EXPECT_EQ(ds.CamposPrimeiraLinha(), 2);
}

TEST(TkwUpdDBFlatFile, SavedFilesReadBackToTheSameRecords) {
    kwtest::TempDir dir;
    std::mt19937 rng(20240611);
    const std::string alfabeto = "ab; \tçÃ\\:.-_0";
    TresCampos origem;
    std::vector<std::vector<std::string>> esperado;
    for (int r = 0; r < 200; ++r) {
        origem.Append();
        std::vector<std::string> linha;
        for (const std::string& campo : origem.NomesCampos()) {
            std::string v;
            const int tamanho = int(rng() % 8);
            for (int i = 0; i < tamanho; ++i)
                v += alfabeto[rng() % alfabeto.size()];
            origem.AtribuaCampo(campo, v);
            linha.push_back(origem.CodifiqueValor(v));
        }
        origem.Post();
        esperado.push_back(linha);
    }
    const std::string arquivo = (dir / "sub" / "a.hst").string();
    fs::create_directories(dir / "sub");
    origem.SaveToFile(arquivo);
    EXPECT_EQ(kwtest::ReadFile(arquivo), origem.GetTexto());

    TresCampos lido;
    ASSERT_TRUE(lido.LoadFromFile(arquivo));
    ASSERT_EQ(lido.RecordCount(), int(esperado.size()));
    for (const auto& linha : esperado) {
        EXPECT_EQ(Valores(lido), linha);
        lido.Next();
    }
    // Nothing but the file itself is left in the folder.
    int entradas = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir / "sub"))
        ++entradas;
    EXPECT_EQ(entradas, 1);
}

TEST(TkwUpdDBFlatFile, SaveOverAReadOnlyFileClearsTheFlag) {
    kwtest::TempDir dir;
    const std::string arquivo = (dir / "kwExec.hst").string();
    kwtest::WriteFile(arquivo, "velho\r\n");
    plat::SetReadOnly(arquivo, true);
    TresCampos ds;
    ds.SetTexto("1;a;2\r\n");
    ds.SaveToFile(arquivo);
    EXPECT_EQ(kwtest::ReadFile(arquivo), "1;a;2\r\n");
    EXPECT_FALSE(plat::IsReadOnly(arquivo));
}

TEST(TkwUpdDBFlatFile, FilesWithPasswordsAreTheOwnersOnly) {
    kwtest::TempDir dir;
    VersaoLauncher versao(4030);
    const std::string req = (dir / "kwExec.req").string();
    const std::string lcm = (dir / "kwVerify.lcm").string();
    const std::string hst = (dir / "kwExec.hst").string();
    kwtest::WriteFile(lcm, "old\r\n");
    ::chmod(lcm.c_str(), 0644);  // an earlier, too open change list is closed too

    TkwUpdDadosRequisitos r;
    r.SetTexto("1;1;a;b;c;1;1;d;u;senha;0\r\n");
    r.SaveToFile(req);
    TkwUpdDadosAlteracoes a;
    a.Append();
    a.AtribuaCampo("deSenha", "segredo");
    a.Post();
    a.SaveToFile(lcm);
    EXPECT_EQ(Modo(req), 0600u);
    EXPECT_EQ(Modo(lcm), 0600u);

    kwtest::WriteFile(hst, "");
    ::chmod(hst.c_str(), 0644);
    TkwUpdDadosHistorico h;
    h.SaveToFile(hst);
    EXPECT_EQ(Modo(hst), 0644u);  // the history holds no secret: its mode stays
}

TEST(TkwUpdDBFlatFile, SaveReportsAFolderThatCannotBeWritten) {
    kwtest::TempDir dir;
    TresCampos ds;
    ds.SetTexto("a;b;c\r\n");
    EXPECT_THROW(ds.SaveToFile((dir / "falta" / "x.hst").string()), rtl::EWriteError);
}

TEST(TkwUpdDBFlatFile, FirstLineFieldCount) {
    struct Caso {
        const char* texto;
        int campos;
    };
    const Caso casos[] = {{"", 0},      {"\r\n", 1},    {"a", 1}, {"a;b\r\nc;d;e;f", 2},
                          {";;;\n", 4}, {"a;b;c\rx", 3}};
    for (const Caso& c : casos)
        EXPECT_EQ(TkwUpdDBFlatFile::ConteCamposPrimeiraLinha(c.texto), c.campos) << c.texto;
}

std::string Linha(int campos) {
    std::string s = "1";
    for (int i = 2; i <= campos; ++i)
        s += ";" + std::to_string(i);
    return s + "\r\n";
}

TEST(TkwUpdDadosRequisitos, LayoutByTheFirstLine) {
    VersaoLauncher versao(4087);
    for (int n = 0; n <= 18; ++n) {
        TkwUpdDadosRequisitos r;
        r.SetTexto(n == 0 ? "" : Linha(n));
        const size_t esperado = n <= 13 ? 11 : n == 14 ? 14 : 16;
        EXPECT_EQ(r.NomesCampos().size(), esperado) << n;
        EXPECT_EQ(r.PossuiCampo("flDisponivel2"), esperado >= 14) << n;
        EXPECT_EQ(r.PossuiCampo("flDisponivel3"), esperado == 16) << n;
        r.First();
        EXPECT_EQ(r.CampoPorNome("nuCRC"), n >= 11 ? "11" : "") << n;
    }
    TkwUpdDadosRequisitos r;
    r.SetTexto(Linha(14));
    r.First();
    EXPECT_EQ(r.CampoPorNome("deLocalUpdate2"), "12");
    EXPECT_EQ(r.CampoPorNome("flDisponivel1"), "13");
    EXPECT_EQ(r.CampoPorNome("flDisponivel2"), "14");
    r.SetTexto(Linha(16));
    r.First();
    EXPECT_EQ(r.CampoPorNome("deLocalUpdate3"), "13");
    EXPECT_EQ(r.CampoPorNome("flDisponivel3"), "16");
}

TEST(TkwUpdDadosAlteracoes, LayoutByTheFirstLineOfALoadedFile) {
    kwtest::TempDir dir;
    VersaoLauncher versao(0);
    for (int n = 0; n <= 16; ++n) {
        const auto arquivo = dir / ("l" + std::to_string(n) + ".lcm");
        kwtest::WriteFile(arquivo, n == 0 ? "" : Linha(n));
        TkwUpdDadosAlteracoes a;
        ASSERT_TRUE(a.LoadFromFile(arquivo.string()));
        const size_t esperado = n <= 11 ? 9 : n == 12 ? 12 : 14;
        EXPECT_EQ(a.NomesCampos().size(), esperado) << n;
    }
}

TEST(TkwUpdDadosLayouts, ByTheLaunchersVersion) {
    struct Caso {
        int versao;
        size_t requisitos;
        size_t alteracoes;
    };
    const Caso casos[] = {{0, 11, 9},     {3299, 11, 9},  {3300, 14, 12},
                          {4029, 14, 12}, {4030, 16, 14}, {4087, 16, 14}};
    for (const Caso& c : casos) {
        VersaoLauncher versao(c.versao);
        ASSERT_EQ(ObtenhaNumeroVersao(), c.versao);
        TkwUpdDadosRequisitos r;
        TkwUpdDadosAlteracoes a;
        TkwUpdDadosHistorico h;
        EXPECT_EQ(r.NomesCampos().size(), c.requisitos) << c.versao;
        EXPECT_EQ(a.NomesCampos().size(), c.alteracoes) << c.versao;
        EXPECT_EQ(h.NomesCampos(),
                  (std::vector<std::string>{"CDSISTEMA", "NMCOMPUTADOR", "NMOBJETO", "NUCONTROLE",
                                            "CDTIPOOPERACAO", "LCARQUIVO", "TMARQUIVO", "DTHRARQUIVO"}));
        // The history's layout never follows a text.
        h.SetTexto(Linha(16));
        EXPECT_EQ(h.NomesCampos().size(), 8u);
    }
    // The change list's field order in each layout.
    VersaoLauncher v(3300);
    TkwUpdDadosAlteracoes a;
    EXPECT_EQ(a.NomesCampos(),
              (std::vector<std::string>{"CDSISTEMA", "NUSEQOBJETO", "NMOBJETO", "NMLOCALDESTINO",
                                        "NMLOCALORIGEM", "NMLOCALORIGEM2", "FLDISPONIVEL1", "FLDISPONIVEL2",
                                        "NUCONTROLE", "CDTIPOOPERACAO", "DEUSUARIO", "DESENHA"}));
    a.DefinaLayout(9);
    EXPECT_EQ(a.NomesCampos(), (std::vector<std::string>{"CDSISTEMA", "NUSEQOBJETO", "NMOBJETO",
                                                         "NMLOCALDESTINO", "NMLOCALORIGEM", "NUCONTROLE",
                                                         "CDTIPOOPERACAO", "DEUSUARIO", "DESENHA"}));
    a.DefinaLayout(14);
    EXPECT_EQ(a.NomesCampos(), (std::vector<std::string>{
                                   "CDSISTEMA", "NUSEQOBJETO", "NMOBJETO", "NMLOCALDESTINO", "NMLOCALORIGEM",
                                   "NMLOCALORIGEM2", "NMLOCALORIGEM3", "FLDISPONIVEL1", "FLDISPONIVEL2",
                                   "FLDISPONIVEL3", "NUCONTROLE", "CDTIPOOPERACAO", "DEUSUARIO", "DESENHA"}));
}

TEST(TkwUpdDadosRequisitos, TemCRC) {
    VersaoLauncher versao(0);
    struct Caso {
        const char* crc;
        bool tem;
    };
    const Caso casos[] = {{"", false}, {"  ", false}, {"0", true}, {"-12345", true}};
    for (const Caso& c : casos) {
        TkwUpdDadosRequisitos r;
        r.SetTexto(std::string("1;1;a;b;c;1;1;d;u;s;") + c.crc + "\r\n");
        r.First();
        EXPECT_EQ(r.TemCRC(), c.tem) << "\"" << c.crc << "\"";
    }
}

class RegistreHistoricoTest : public ::testing::Test {
protected:
    void SetUp() override {
        h.OnNomeComputador = [] { return std::string("estacao-7"); };
        h.OnDadosArquivo = [this](const std::string& caminho, std::string& tamanho, std::string& dataHora) {
            pedidos.push_back(caminho);
            tamanho = "1234";
            dataHora = "01/02/2024 03:04:05";
        };
    }
    TkwUpdDadosHistorico h;
    std::vector<std::string> pedidos;
};

TEST_F(RegistreHistoricoTest, ReplacesTheFirstRecordOfTheObjectWhoeverWroteIt) {
    h.SetTexto(
        "1;OUTRA;KWEXEC.EXE;3;1;/x/kwExec.exe;10;01/01/2020 00:00:00\r\n"
        "1;OUTRA;kwexec.exe;4;1;/y;11;x\r\n"  // a second match is left alone
        "2;OUTRA;KWEXEC.EXE;5;1;/z;;\r\n"     // another system
        "1;OUTRA;KWEXEC.EXE;6;x1;/w;;\r\n"    // an operation that is no number matches nothing
        "1;OUTRA;KWEXEC.EXE;6;2;/v;;\r\n");   // another operation
    TkwUpdLog log;
    h.RegistreHistorico("1", "kwExec.exe", "4087", 1, "/app/kwExec.exe", &log);
    EXPECT_EQ(h.GetTexto(),
              "1;OUTRA;kwexec.exe;4;1;/y;11;x\r\n"
              "2;OUTRA;KWEXEC.EXE;5;1;/z;;\r\n"
              "1;OUTRA;KWEXEC.EXE;6;x1;/w;;\r\n"
              "1;OUTRA;KWEXEC.EXE;6;2;/v;;\r\n"
              "1;ESTACAO-7;KWEXEC.EXE;4087;1;/app/kwExec.exe;1234;01/02/2024 03:04:05\r\n");
    EXPECT_EQ(pedidos, (std::vector<std::string>{"/app/kwExec.exe"}));
    const auto linhas = log.Linhas();
    ASSERT_EQ(linhas.size(), 1u);
    EXPECT_NE(
        linhas[0].find(" :  - Arquivo: /app/kwExec.exe - Tamanho: 1234 - Data e hora: 01/02/2024 03:04:05"),
        std::string::npos)
        << linhas[0];
}

TEST_F(RegistreHistoricoTest, OperationsOtherThanCopiesCarryNoFileFacts) {
    for (int op : {2, 3, 9, 10}) {
        h.Clear();
        h.RegistreHistorico("7", "a.dll", "3", op, "/app/a.dll", nullptr);
        EXPECT_EQ(h.GetTexto(), "7;ESTACAO-7;A.DLL;3;" + std::to_string(op) + ";/app/a.dll;;\r\n") << op;
    }
    EXPECT_TRUE(pedidos.empty());
    h.RegistreHistorico("7", "a.dll", "3", 5, "/app/a.dll", nullptr);
    EXPECT_EQ(pedidos.size(), 1u);
}

TEST(TkwUpdDadosHistorico, RegisteringNeedsItsSources) {
    TkwUpdDadosHistorico h;
    EXPECT_THROW(h.RegistreHistorico("1", "a", "1", 2, "/a", nullptr), rtl::Exception);
    EXPECT_TRUE(h.IsEmpty());
}

}  // namespace
