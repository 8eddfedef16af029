// common/ukwUpdIni.h: the settings of "kwCFG.ini" (TkwUpdIni), the switch of the
// product's "qor.ini" (TkwQorIni), and the writing of the [RPC] section with its diagnostics.
//
// Every getter reads its key on first use and keeps the value: a text value is kept once it
// is not empty (an empty one is read again at the next call), a number once it is not -1.
// Section and key names match without regard to case; values come trimmed and unquoted, at
// most 2047 bytes, as the Windows profile functions give them; a missing key gives the
// default. The file is parsed once and its later reads are served from memory.
//
// Most text and flag getters add a detail line to the launcher's log at every call, cached or
// not: "<file> -> <label> (<section>,<key>): \"<value>\"". Alias, Server, Protocolo,
// ServerKw4, ProtocoloKw4, EnderecoProxy, EhKw4, EnderecosKWBalanceadorKW4 and the numeric
// getters log nothing. No line is logged while no log is set.
//
// Generation: a file whose [DataBaseName] section holds a key is of generation KW3, any other
// of KW4 (EhKw4). The database settings of KW4 are in section "Database", or "Database_"
// plus the name that [Servidor] Alias gives.
//
// One instance (kwUpdIni()) serves the program; its getters are locked, since a connection
// thread reads settings too.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "rtl/IniFile.h"

class TkwUpdLog;

class TkwUpdIni {
public:
    // Binds the reader to the configuration file (TkwUpdConfig::GetArquivoINI) for good.
    explicit TkwUpdIni(TkwUpdLog* log = nullptr);
    TkwUpdIni(const TkwUpdIni&) = delete;
    TkwUpdIni& operator=(const TkwUpdIni&) = delete;

    TkwUpdLog* Log() const { return log_; }
    void SetLog(TkwUpdLog* log) { log_ = log; }

    // [KWUPDATE] TipoServidor: true for "REMOTO", false for "LOCAL" (ASCII letters in any
    // case); any other value raises rtl::Exception "Tipo de servidor (kwCFG.ini: Sessão
    // KWUPDATE, Ident: TipoServidor) é inválido. Valor informado: \"<value>\"." and logs nothing.
    bool TipoServidor();
    std::string LocalUpdate();  // [KWUPDATE] LocalUpdate
    std::string CdSistema();    // [KWUPDATE] CdSistema
    // [KWUPDATE] PodeAtualizar / UsaNomeComputador, default "S": true unless "N" in any case.
    bool PodeAtualizar();
    bool UsaNomeComputador();
    std::string Alias();                                 // [KWUPDATE] Alias
    std::string Protocolo();                             // [KWUPDATE] Protocolo, else TipoBanco
    std::string Server();                                // [KWUPDATE] Server
    int32_t MaximoTentativasDownload();                  // default 1
    int32_t TempoEsperaSegundosNovaTentativaDownload();  // default 1
    std::string EnderecoProxy();                         // [KWUPDATE] EnderecoProxy
    int32_t PortaProxy();                                // default 0

    std::string AliasKw3();    // [DataBaseName] Alias
    std::string EsquemaKw3();  // [DataBaseName] Esquema

    std::string AliasSessaoServidorKw4();  // [Servidor] Alias
    // "Database" for a name that is blank after trimming, else "Database_" + the name.
    static std::string SecaoDatabase(std::string_view nome);
    // Keys of the database section named by `nome` ([Servidor] Alias). Each keeps one value
    // whatever name later calls give.
    std::string AliasKw4(std::string_view nome);
    std::string EsquemaKw4(std::string_view nome);
    std::string ProtocoloKw4(std::string_view nome);  // Protocolo, else TipoBanco
    std::string ServerKw4(std::string_view nome);

    std::string NomeServidorKw4();        // [Servidor] nomeServidor
    std::string GuidServidorKw4();        // [Servidor] GUIDServidor
    std::string EnderecoIPKw4();          // [Servidor] enderecoIP
    std::string EnderecoURLKw4();         // [Servidor] enderecoURL
    std::string TipoConexaoKw4();         // [Servidor] tipoconexao
    bool PodeBalancearKW4();              // [Servidor] PodeBalancear, default "S": true for "S" in any case
    int32_t TimeoutConexaoBalanceador();  // seconds, default 10
    int32_t TimeoutConexaoServidorAplicacao();  // seconds, default 60
    int32_t TimeoutTesteRede();                 // [Servidor] TimeoutTesteRede seconds (default 4) in ms

    std::string GUIDKWBalanceadorKW4();  // [kwBalanceador] GUID
    // The non-empty values of [kwBalanceador] EnderecoIP1..EnderecoIP500 (gaps do not stop
    // the scan), joined by ";"; likewise EnderecoURL1..EnderecoURL500.
    std::string EnderecoIPKWBalanceadorKW4();
    std::string EnderecoURLKWBalanceadorKW4();
    // Both lists as one: "IP:" + each IP field, then "URL:" + each URL field, joined by ";"
    // (each part stops at its first empty field).
    std::string EnderecosKWBalanceadorKW4();

    // True for generation KW4 (no key in [DataBaseName]).
    bool EhKw4();

    // Adds the detail "<file> -> " + texto when a log is set.
    void RegistreLeitura(std::string_view texto);

    // ---- [RPC] and its diagnostics; lines go to Log() ----
    // Writes [RPC] ControlarReconexao and ConsultarDispIDLocal as "1"/"0", the rest of the file
    // unchanged; in a launcher folder that refuses new files, a writable file is written in
    // place. A failed write raises rtl::EIniFileException "Erro ao gravar o arquivo \"<file>\".
    // Mensagem de erro: " and the system's reason.
    void EscreverConfiguracoesRPC(bool controlarReconexao, bool consultarDispIDLocal);
    // Copies the configuration file to the log folder under `nome`; failures are logged, never
    // raised.
    void CriarCopiaArquivoINI(const std::string& nome);
    // Logs a file's last-write time and its read-only, archive, system and hidden flags.
    void LogarAtributosArquivo(const std::string& caminho);
    void LogarAtributosArquivoINI();
    // Compares two copies in the log folder line by line (exactly) and deletes both when equal.
    void CompararCopiasArquivoINI(const std::string& primeiro, const std::string& segundo);

    // The reader bound at creation (tests count its parses).
    const rtl::IniFile& Leitor() const { return *ini_; }

private:
    std::string Leia(std::string_view secao, std::string_view chave, std::string_view padrao);
    // The cached text getter: read when the cache is empty, then log the label.
    std::string Texto(std::string& cache, std::string_view rotulo, std::string_view secao,
                      std::string_view chave, bool registra = true, std::string_view secaoNoRotulo = {});
    int32_t Numero(int32_t& cache, std::string_view secao, std::string_view chave, int32_t padrao);
    std::string DeBanco(std::string& cache, std::string_view nome, std::string_view chave);
    std::string ListaBalanceadores(std::string& cache, std::string_view rotulo, std::string_view chave);
    void Detalhe(std::string_view texto);
    // RegistreLeitura of "<rotulo> (<secao>,<chave>): \"<valor>\"", the line built in one piece
    // (the computer-name switch is logged at every requisite of a verification).
    void RegistreValor(std::string_view rotulo, std::string_view secao, std::string_view chave,
                       std::string_view valor);
    std::string PastaDeLog() const;

    std::recursive_mutex mutex_;
    TkwUpdLog* log_ = nullptr;
    std::string nomeArquivo_;
    std::unique_ptr<rtl::IniFile> ini_;

    std::string tipoServidor_, localUpdate_, cdSistema_, podeAtualizar_, usaNomeComputador_, alias_,
        protocolo_, server_, enderecoProxy_;
    std::string aliasKw3_, esquemaKw3_, aliasSessaoServidorKw4_, aliasKw4_, esquemaKw4_, protocoloKw4_,
        serverKw4_;
    std::string nomeServidorKw4_, guidServidorKw4_, enderecoIPKw4_, enderecoURLKw4_, tipoConexaoKw4_,
        podeBalancearKW4_;
    std::string guidBalanceador_, enderecosIPBalanceador_, enderecosURLBalanceador_, ehKw4_;
    int32_t maximoTentativas_ = -1, tempoEspera_ = -1, portaProxy_ = -1, timeoutBalanceador_ = -1,
            timeoutServidor_ = -1, timeoutTesteRede_ = -1;
};

// The program's reader, created without a log at its first use.
TkwUpdIni& kwUpdIni();
// Frees it, so the next use creates it again (ResetConfigurationSingletons calls this).
void ResetIniSingleton();

// The switch of the product's settings file "qor.ini" beside the launcher.
class TkwQorIni {
public:
    // [NONET] USAGRAVACAOOFFLINE is exactly "S" (upper case only); read at every call.
    bool UsaGravacaoOffline();

private:
    bool usaGravacaoOffline_ = false;
};
