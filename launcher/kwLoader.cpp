// launcher/kwLoader.cpp: the program entry of kwLoader.
#include "launcher/kwLoader.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/ukwFuncoesString.h"
// The ODBC and Oracle drivers before the further ones: the InterBase client's ibase.h, which
// the InterBase and Firebird drivers pull in, defines some of the ODBC names as macros.
#include "database/odbc/SDDb2.h"
#include "database/odbc/SDInf.h"
#include "database/odbc/SDOdbc.h"
#include "database/oracle/SDOra.h"

#include "database/drivers/SDCSb.h"
#include "database/drivers/SDFib.h"
#include "database/drivers/SDInt.h"
#include "database/drivers/SDMss.h"
#include "database/drivers/SDMySql.h"
#include "database/drivers/SDOleDb.h"
#include "database/drivers/SDPgSQL.h"
#include "database/drivers/SDSyb.h"
#include "launcher/ukwUpdLoader.h"
#include "platform/ui/UserInterface.h"
#include "rtl/Exception.h"
#include "rtl/Text.h"
#include "transfer/ukwUpdConexaoKw4Ping.h"
#include "transfer/ukwUpdConexaoKw4Threads.h"

namespace {

// The first database connection's credentials, fixed in the program.
const char* const kUsuarioBanco = "qorbanco";
const char* const kSenhaBanco = "trelvoma";

}  // namespace

int ExecuteProgramaKwLoader(int argc, const char* const* argv,
                            const std::function<void(TkwUpdLoader&)>& prepara) {
    plat::ui::InitializeApplication();
    // The SQL access library's driver table starts empty: the drivers this program carries
    // are put into it before anything can connect (the local road's database facade).
    RegisterOdbcDriver();
    RegisterOracleDriver();
    RegisterDb2Driver();
    RegisterInformixDriver();
    RegisterSQLServerDriver();
    RegisterSybaseDriver();
    RegisterMySQLDriver();
    RegisterPostgreSQLDriver();
    RegisterInterbaseDriver();
    RegisterFirebirdDriver();
    RegisterSQLBaseDriver();
    RegisterOLEDBDriver();
    std::unique_ptr<TkwUpdLoader> loader;
    bool logNaoGravado = false;
    try {
        loader = std::make_unique<TkwUpdLoader>();
        loader->OnLogNaoGravado = [&logNaoGravado] { logNaoGravado = true; };
        loader->DBUser = kUsuarioBanco;
        loader->DBPassword = kSenhaBanco;
        for (int i = 1; i < argc; ++i)
            loader->Argumentos.emplace_back(argv[i]);
        const bool checaCRC =
            !loader->Argumentos.empty() && rtl::SameText(loader->Argumentos.front(), "/check");
        if (prepara) prepara(*loader);
        loader->Execute(checaCRC);
    } catch (const rtl::Exception& e) {
        loader.reset();  // writes the log first
        plat::ui::ReportUncaughtException(e.ClassName(), TextoVisivel(e.Message()));
        return 2;
    } catch (const std::exception& e) {
        loader.reset();
        plat::ui::ReportUncaughtException("Exception", TextoVisivel(e.what()));
        return 2;
    }
    const bool falhou = loader->Falhou();
    loader.reset();
    if (falhou) return 1;
    return logNaoGravado ? 3 : 0;
}

int TermineProgramaKwLoader(int codigo) {
    if (TkwThreadControlada::EmExecucao() > 0 || TSecureHTTPSClient::EmExecucao() > 0) {
        std::fflush(nullptr);
        std::_Exit(codigo);
    }
    return codigo;
}
