// The message catalogue: both languages take the same arguments for every number, the
// language comes from kwCFG.ini once, numbers without text are empty, and texts are patterns
// formatted safely.
#include "common/ukwUpdTranslator.h"

#include <gtest/gtest.h>

#include <deque>

#include "LauncherBaseTestSupport.h"

namespace {

// The directives of a pattern in order ("%d", "%s"...), "%%" left out.
std::vector<std::string> Directives(std::string_view p) {
    std::vector<std::string> r;
    for (size_t i = 0; i < p.size(); ++i) {
        if (p[i] != '%') continue;
        size_t j = i + 1;
        if (j < p.size() && p[j] == '%') {
            i = j;
            continue;
        }
        while (j < p.size() && std::string_view("-0123456789.:*").find(p[j]) != std::string_view::npos)
            ++j;
        r.emplace_back(p.substr(i, j + 1 - i));
        i = j;
    }
    return r;
}

TEST(Catalogue, BothLanguagesTakeTheSameArgumentsForEveryNumber) {
    int comTexto = 0;
    for (int n = 1; n <= 96; ++n) {
        SCOPED_TRACE("message " + std::to_string(n));
        const std::string_view pt = TextoCatalogo(n, TkwIdioma::Portugues);
        const std::string_view es = TextoCatalogo(n, TkwIdioma::Espanhol);
        if (n == 41) {
            EXPECT_TRUE(pt.empty());
            EXPECT_TRUE(es.empty());
            continue;
        }
        ASSERT_FALSE(pt.empty());
        ASSERT_FALSE(es.empty());
        ++comTexto;
        const auto d = Directives(pt);
        EXPECT_EQ(Directives(es), d);
        // Arguments of the kinds the directives ask for format both texts, and every argument
        // shows up in both.
        std::deque<std::string> textos;
        std::vector<rtl::FormatArg> args;
        std::vector<std::string> esperados;
        for (size_t k = 0; k < d.size(); ++k) {
            if (d[k] == "%d") {
                args.emplace_back(int(1000 + k));
                esperados.push_back(std::to_string(1000 + k));
            } else {
                ASSERT_EQ(d[k], "%s");
                textos.push_back("<arg" + std::to_string(k) + ">");
                args.emplace_back(textos.back());
                esperados.push_back(textos.back());
            }
        }
        for (std::string_view padrao : {pt, es}) {
            const std::string texto = rtl::FormatV(padrao, args);
            for (const auto& e : esperados)
                EXPECT_NE(texto.find(e), std::string::npos) << texto;
        }
    }
    EXPECT_EQ(comTexto, 95);
}

TEST(Catalogue, NumbersWithoutTextAreEmptyWhateverTheArguments) {
    kwtest::LauncherFolder dir;
    for (int n : {0, 41, 97, 1000, -1}) {
        EXPECT_EQ(Traduza(n, "a", 1, 2.5), "") << n;
        EXPECT_EQ(TraduzaSemArgumentos(n), "") << n;
    }
}

TEST(Catalogue, FormatsWithTheCallersArguments) {
    kwtest::LauncherFolder dir;
    EXPECT_EQ(Traduza(1, 3, 2),
              "O número de campos é diferente do número de valores. Campos = 3 - Valores = 2.");
    EXPECT_EQ(Traduza(30, "C:\\App\\x.exe", "Acesso negado (5)"),
              "Erro ao executar o arquivo \"C:\\App\\x.exe\". Causa: Acesso negado (5)");
    EXPECT_EQ(Traduza(15, "x"), "Erro não tratado.\r\nMensagem original do servidor: \"x\"");
    EXPECT_EQ(TraduzaSemArgumentos(89), "Fechar");
    // A directive inside an argument is text, never a directive.
    EXPECT_EQ(Traduza(74, "%s%n%d"), "O arquivo \"%s%n%d\" não existe.");
}

TEST(Catalogue, ArgumentsThatDoNotFitRaiseTheFormatError) {
    kwtest::LauncherFolder dir;
    EXPECT_THROW(Traduza(1, 3), rtl::EConvertError);
    EXPECT_THROW(Traduza(1, "x", "y"), rtl::EConvertError);
    EXPECT_THROW(Traduza(74), rtl::EConvertError);
}

TEST(Catalogue, LanguageFromLinguaElseIdioma) {
    struct C {
        const char* cfg;
        TkwIdioma want;
    };
    const C cases[] = {
        {"[Geral]\nLingua=10\n", TkwIdioma::Espanhol},
        {"[geral]\nlingua = 10 \n", TkwIdioma::Espanhol},
        {"[Geral]\nLingua=\nIdioma= 10 \n", TkwIdioma::Espanhol},
        {"[Geral]\nIdioma=10\n", TkwIdioma::Espanhol},
        {"[Geral]\nLingua=1\nIdioma=10\n", TkwIdioma::Portugues},
        {"[Geral]\nLingua=010\n", TkwIdioma::Portugues},
        {"[Geral]\nLingua=11\n", TkwIdioma::Portugues},
        {"[Outra]\nLingua=10\n", TkwIdioma::Portugues},
        {nullptr, TkwIdioma::Portugues},
    };
    for (const C& c : cases) {
        kwtest::LauncherFolder dir;
        if (c.cfg != nullptr) kwtest::WriteFile(dir / "kwCFG.ini", c.cfg);
        EXPECT_EQ(IdiomaAtual(), c.want) << (c.cfg ? c.cfg : "(no file)");
        EXPECT_EQ(TraduzaSemArgumentos(89), c.want == TkwIdioma::Espanhol ? "Cerrar" : "Fechar");
        EXPECT_EQ(Traduza(3, 1, 2), "(1 de 2)");
    }
}

TEST(Catalogue, AShippedUnderscoreConfigurationGivesTheLanguage) {
    kwtest::LauncherFolder dir;
    kwtest::WriteFile(dir / "_kwCFG.ini", "[Geral]\nIdioma=10\n");
    EXPECT_EQ(IdiomaAtual(), TkwIdioma::Espanhol);
    EXPECT_TRUE(std::filesystem::exists(dir / "kwCFG.ini"));
}

TEST(Catalogue, TheLanguageIsReadOnce) {
    kwtest::LauncherFolder dir;
    kwtest::WriteFile(dir / "kwCFG.ini", "[Geral]\nLingua=10\n");
    EXPECT_EQ(TraduzaSemArgumentos(91), "Grabar...");
    kwtest::WriteFile(dir / "kwCFG.ini", "[Geral]\nLingua=1\n");
    EXPECT_EQ(TraduzaSemArgumentos(91), "Grabar...");
    RecarregueIdioma();
    EXPECT_EQ(TraduzaSemArgumentos(91), "Salvar...");
}

}  // namespace
