// launcher/ukwUpdEstradaRequisitos.h: the roads by which the launcher run obtains the
// requisites text: from the application server ([KWUPDATE] TipoServidor=REMOTO) or from the
// application database (LOCAL).
//
// The run (TkwUpdLoader::Execute) logs and shows the road's surrounding steps itself and makes
// exactly one call to the road it chose; the road does all of its own work inside that call
// (for the database road: the requisites, the versioned-update flag and the [RPC] switches,
// each over a connection of its own) and returns the requisites text with the flag. A road
// reads the run's values from the launcher it is given (CdSistema, CdSistemaGenerico,
// CdLocalUpdate, DBUser, DBPassword, Log, Status) and reports a failure by raising
// (TkwUpdException or another rtl::Exception), which the run's error handler shows.
//
// The roads of this build come from CrieEstradaServidor and CrieEstradaBanco; tests give a
// launcher a road of their own with TkwUpdLoader::DefinaEstradaServidor/DefinaEstradaBanco.
#pragma once

#include <memory>
#include <string>

class TkwUpdLoader;

struct TkwUpdRequisitosObtidos {
    std::string Requisitos;              // lines of ';'-separated fields; may be empty
    bool AtualizacaoVersionada = false;  // the server's or database's versioned-update flag
};

class TkwUpdEstradaRequisitos {
public:
    virtual ~TkwUpdEstradaRequisitos() = default;
    // Main thread. Worker threads of the road must not touch the launcher's window: they post
    // to its mailbox (TfkwUpdLoaderStatus::CaixaTarefa).
    virtual TkwUpdRequisitosObtidos ObtenhaRequisitos(TkwUpdLoader& loader) = 0;
};

// The road to the application server (ukwUpdRequisitosServidor.h), and the one to the
// application database (ukwUpdRequisitosBanco.h).
std::unique_ptr<TkwUpdEstradaRequisitos> CrieEstradaServidor();
std::unique_ptr<TkwUpdEstradaRequisitos> CrieEstradaBanco();
