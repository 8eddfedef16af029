// launcher/ukwUpdRequisitosBanco.h: the local road: the requisites, the versioned-update flag
// and the [RPC] switches read straight from the application database.
//
// Tables (qualified with the configured schema, MonteNomeTabela):
//   esegConexao         cdUsuario, deSenha (scrambled)   credentials to reconnect with
//   epadLocalUpdate     the update sites of the system and of the generic system
//   epadObjetoUpdate    the objects to deliver, ordered by cdSistema, nuSeqObjeto
//   epadConfigServidor  deChave/deValor: OBJETO_UPDATE_VERSIONADO, RPC.CONTROLAR_RECONEXAO,
//                       RPC.CONSULTAR_DISPID_LOCAL ("TRUE" in any case is on)
//
// The road (TkwUpdEstradaBanco) runs three exchanges, each over a connection of its own that
// is closed and freed before it returns: the requisites, the versioned-update flag, and the
// RPC switches, which it writes into [RPC] of "kwCFG.ini" with their before/after copies. The
// connection is configured from "kwCFG.ini" (ConfigurarConexaoComBanco): an alias alone is
// the alias path (an ODBC data source of that name); an alias with a database type
// (Protocolo or TipoBanco) is the SQL access library's path.
//
// Each requisites line is the object's values and its system's update site joined by ";", in
// the requisites layout of 11, 14 or 16 fields that the launcher's version number chooses.
// What must stay true:
//   - every value of a line comes from the object's row and from the site row kept for that
//     object's system (the system's or the generic system's): one system's secondary sites
//     and availability flags never reach the other's lines;
//   - a line never carries a value holding ";" or a line break, which would shift every
//     later field: such a row is left out, with a log line naming the object;
//   - every table name, the credentials table's included, is built by MonteNomeTabela, and
//     the schema it joins in is one SQL identifier (EsquemaValido): the setting comes from a
//     file on the workstation and is spliced into every statement, so anything more (a
//     second table, a join, a comment) is refused before any statement is built.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "launcher/ukwUpdEstradaRequisitos.h"

class TkwDatabase;
class TkwQuery;

// The table qualified with the schema: both trimmed; "<schema>.<table>" (no second "." when
// the schema ends with one), or the table alone for a blank schema. A schema that is not
// EsquemaValido raises rtl::Exception with MensagemEsquemaInvalido.
std::string MonteNomeTabela(std::string_view tabela, std::string_view esquema);

// Whether a (trimmed) schema setting is blank or one SQL identifier, optionally followed by
// one ".": ASCII letters, digits, "_", "$" and "#", or one identifier in double quotes (any
// printable characters but the double quote).
bool EsquemaValido(std::string_view esquema);
// The failure for a schema that is not valid, naming it.
std::string MensagemEsquemaInvalido(std::string_view esquema);

// The requisites layout of the database query for a launcher version number: 4 from 4030 on,
// 1 below 3300, 2 between (the 16-, 11- and 14-field lines).
int LayoutRequisitosBanco(int32_t numeroVersao);

struct TkwDadosRequisitosBanco {
    std::string LogConsulta;  // the query's log lines (launcher log format), each ended by CR LF
    std::string Erro;         // empty when the requisites were read and are consistent
    std::string Requisitos;   // the lines, each ended by CR LF
};

// Reads the update sites and the objects of the system and of the generic system over a
// connected database and builds the requisites lines of the layout (1, 2 or 4). A negative
// update-site code selects the site flagged as default. Never raises: a failure is the error
// text.
TkwDadosRequisitosBanco GetDadosRequisitosBanco(TkwDatabase& database, const std::string& esquema,
                                                int32_t cdSistema, int32_t cdSistemaGenerico,
                                                int32_t cdLocalUpdate, int layout);

struct TkwDadosVersionadaBanco {
    bool Versionada = false;
    std::string LogConsulta;
    std::string Erro;  // "Erro: " + the failure's message
};

// epadConfigServidor's OBJETO_UPDATE_VERSIONADO is "TRUE" in any case; no row is False.
// Never raises.
TkwDadosVersionadaBanco TestarSeAtualizacaoVersionadaBanco(TkwDatabase& database, const std::string& esquema);

// The road of [KWUPDATE] TipoServidor=LOCAL. Its operations read the run's values from the
// launcher (CdSistema, CdSistemaGenerico, CdLocalUpdate, DBUser, DBPassword) and log to its Log.
class TkwUpdEstradaBanco final : public TkwUpdEstradaRequisitos {
public:
    // PegueDadosRequisitosBanco, TestarSeAtualizacaoVersionadaBanco, ConfigureParametrosRPC.
    TkwUpdRequisitosObtidos ObtenhaRequisitos(TkwUpdLoader& loader) override;

    // Configures the database from "kwCFG.ini", connects under the launcher's first
    // credentials and, when esegConexao has a row, reconnects under its user and descrambled
    // password. Raises TkwUpdException for a setting missing from the file and for any
    // failure to connect or to read the credentials (catalogue message 66).
    void ConfigurarConexaoComBanco(TkwUpdLoader& loader, TkwDatabase* database);
    // The requisites text; TkwUpdException (message 67) when the query or its checks fail.
    std::string PegueDadosRequisitosBanco(TkwUpdLoader& loader);
    // The versioned-update flag; TkwUpdException (message 67) when it cannot be read.
    bool TestarSeAtualizacaoVersionadaBanco(TkwUpdLoader& loader);
    // Reads the two switches and writes them into [RPC], with the copies before and after
    // ("kwCFG-antes-RPC.ini", "kwCFG-depois-RPC.ini", removed again when equal). Reading never
    // fails the run (a switch not read is off); writing the file does.
    void ConfigureParametrosRPC(TkwUpdLoader& loader);

    struct ParametrosRPC {
        bool ControlarReconexao = false;
        bool ConsultarDispIDLocal = false;
    };
    ParametrosRPC PegueParametrosRPCBanco(TkwUpdLoader& loader);
    // deValor of the key in epadConfigServidor is "TRUE" in any case (no row: False).
    bool ConsulteParametroRPC(TkwQuery& query, const std::string& chave);
    // The table qualified with the configured schema (the database section's Esquema for a
    // KW4 file, [DataBaseName] Esquema for KW3).
    std::string ObtenhaNomeTabela(const std::string& tabela);
    std::string ObtenhaEsquema();
};
