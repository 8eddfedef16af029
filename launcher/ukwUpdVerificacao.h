// launcher/ukwUpdVerificacao.h: the verification engine: decides, requisite by requisite,
// what the update executor must do on this workstation, and refreshes the executor itself.
//
// Every requisite is compared with the update history "kwExec.hst" (the first record of the
// same system, object and operation decides) and with the workstation's files:
//
//   operation                      history rule   an action when
//   1 update when different        exact          file missing, or history/file check fails
//   5 update when older            at least       same (recorded and listed as operation 1)
//   2, 6, 7, 8                     exact          history check fails
//   3 remove file / 4 remove dir   at least       history check fails and the file/folder exists
//   9 copy and unpack              exact          history check fails, or the unpacked file
//                                                 is missing from the launcher's folder
//   10 apply patch                 at least       history check fails
//   0, or outside 0..10            -              never
//
// For a copied file whose requisite gives a checksum, the file itself is compared too: its
// size and time against the history's (the record is completed when it has none), or with
// "/check" its CRC-32 against the requisite's. The requisite of the executor "kwExec.exe"
// never becomes a change: when the installed executor is stale it is copied at once from the
// first update site that works, checked, and recorded in the history.
//
// Each action appends a change-list record; when there is at least one, the change list
// "kwVerify.lcm" and the requisites file "kwExec.req" are saved and the answer is true. Every
// step is logged in the launcher log. The history is looked up through an index over its
// records (rebuilt whenever the history changes), so a long history costs no scan per
// requisite; a history record cut short (fewer than its 8 fields) or with a field that is not a
// number is skipped, named once per run by an error line.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/ukwUpdDBFlatFile.h"
#include "common/ukwUpdLog.h"
#include "transfer/ukwUpdFileUtil.h"

class TkwUpdIni;

class TkwUpdVerificacao : public TkwUpdClasseBasica {
public:
    // Creates the three data sets (layouts by the launcher's version) and loads the history.
    // The log must be given; the configuration may be absent (the computer names are then
    // always compared).
    TkwUpdVerificacao(TkwUpdLog* log, TkwUpdLog* logSecundario, int32_t cdSistema, TkwUpdIni* configuracao);
    ~TkwUpdVerificacao() override;

    // True when the update executor must run (the change list and requisites file are then
    // saved). checaCRC: the "/check" switch; versionada: the server's versioned-update flag.
    bool VerifiqueNecessidadeAtualizacao(const std::string& requisitos, bool checaCRC, bool versionada);

    TkwUpdDadosRequisitos& Requisitos() { return *requisitos_; }
    TkwUpdDadosHistorico& Historico() { return *historico_; }
    TkwUpdDadosAlteracoes& Alteracoes() { return *alteracoes_; }

    // True with the message "Não foi possível tentar a atualização no <ordinal> local update.
    // Retorno do FTP: <server text>" when the failure text is an FTP transfer's (it carries an
    // "ExceptionClass" line); false, message untouched, otherwise.
    static bool InterpreteErroFTP(const std::string& texto, const std::string& ordinal,
                                  std::string& mensagem);

private:
    // The values one requisite is compared by. One object serves every requisite of a run,
    // so its texts keep their storage from one requisite to the next.
    struct TRequisito {
        // The requisite's own texts, viewed in its line of the requisites text, which stays as
        // it is while the text is verified.
        std::string_view sistema;
        std::string_view sequencia;
        std::string_view objeto;
        std::string_view controleTexto;
        int32_t controle = 0;
        int32_t operacao = 0;
        std::string destino;
        // The site addresses and the folder below them, as the requisite gives them; the
        // paths are joined only for a requisite that needs them (MonteOrigens).
        std::string_view site1, site2, site3, pasta;
        bool origensMontadas = false;
        std::string origem1, origem2, origem3;  // empty: that site is off
        std::string_view usuario, senha, crc;
        std::string_view disponivel1, disponivel2, disponivel3;  // the raw flags
        bool temDisponivel3 = false;
        // What is at the destination, looked at once per requisite (see Destino).
        bool examinado = false;
        TDadosArquivo arquivo;
    };

    // Positions of the history's fields (its layout is fixed).
    struct TCamposHistorico {
        int sistema = -1, computador = -1, objeto = -1, controle = -1, operacao = -1, tamanho = -1,
            dataHora = -1;
    };

    // One slot of the history index: the hash of a record's key and the record (-1: free). Eight
    // bytes, so that the table stays in the cache while the lookups jump about in it.
    struct TEntradaIndice {
        uint32_t hash = 0;
        int32_t registro = -1;
    };

    // What the history check reads of the record found: its control number and, viewed in its
    // line (valid until the history changes), its computer name, size and time texts.
    struct TRegistroHistorico {
        int32_t registro = -1;
        int32_t controle = 0;
        std::string_view computador, tamanho, dataHora;
    };

    // Positions of the requisites' fields in the layout of the text being verified.
    struct TCamposRequisito {
        bool resolvidos = false;
        int sistema = -1, sequencia = -1, objeto = -1, destino = -1, origem = -1, controle = -1,
            operacao = -1, site1 = -1, usuario = -1, senha = -1, crc = -1, site2 = -1, site3 = -1,
            disponivel1 = -1, disponivel2 = -1, disponivel3 = -1;
    };

    TkwUpdLog& L();
    // The destination's facts: one look per requisite serves the existence test, the size
    // and time comparison and the completion of the history record.
    const TDadosArquivo& Destino(TRequisito& r);
    // Reads requisite i (a record of the requisites) into r.
    void LeiaRequisito(TRequisito& r, int i, bool atual);
    // The site paths of the requisite (empty for a site that is off), joined once.
    void MonteOrigens(TRequisito& r);
    // atual false: the form before version 3300 (no site flags, removals without history).
    void CompareArquivos(bool checaCRC, bool versionada, bool atual);
    bool DecidaAcao(TRequisito& r, bool checaCRC, bool versionada, bool atual);
    bool ConfiraHistorico(TRequisito& r, bool exato, bool checaCRC);
    bool CompareNroControle(bool exato, int32_t requerido, int32_t local);
    bool CompareNomeComputador(std::string_view estacao, std::string_view gravado);
    bool CompareCRC(const std::string& caminho, std::string_view requerido);
    bool CompareTamanhoData(const TDadosArquivo& local, std::string_view tamanho, std::string_view dataHora);
    bool ArquivoDescompactadoAusente(const std::string& destino);
    void InsiraAlteracao(const TRequisito& r, const std::string& f1, const std::string& f2,
                         const std::string& f3);

    bool AtualizeExecutor(TRequisito& r, bool checaCRC, bool versionada);
    void CopieExecutor(const TRequisito& r, const std::string& origem, const std::string& site2,
                       const std::string& site3);
    void VerifiqueIntegridade(const std::string& caminho, std::string_view requerido,
                              const std::string& lido);

    // The history record of (system, object, operation) into `achado`; false when there is none.
    bool ProcureHistorico(std::string_view sistema, std::string_view objeto, int32_t operacao,
                          TRegistroHistorico& achado);
    void ConstruaIndiceHistorico();
    // Whether the record of slot e (one the index holds) has the key chave_, field by field; its
    // fields are left in camposRegistro_.
    bool TemAChave(const TEntradaIndice& e);
    // Makes chave_ the key of (system, object, operation); its hash.
    uint32_t MonteChave(std::string_view sistema, std::string_view objeto, int32_t operacao);
    const std::string& NomeComputador();
    const std::string& NomeComputadorMaiusculo();

    TkwUpdIni* configuracao_;
    std::unique_ptr<TkwUpdDadosRequisitos> requisitos_;
    std::unique_ptr<TkwUpdDadosHistorico> historico_;
    std::unique_ptr<TkwUpdDadosAlteracoes> alteracoes_;
    std::unique_ptr<TkwUpdLog> logReserva_;

    // The workstation's files are looked at in one pass per verification (see
    // TExaminadorArquivos); set while VerifiqueNecessidadeAtualizacao runs.
    std::optional<TExaminadorArquivos> examinador_;
    TCamposRequisito camposRequisito_;
    std::vector<std::string_view> camposRequisitoLinha_;  // the fields of the requisite being read
    TCamposHistorico camposHistorico_;
    int32_t versao_ = 0;
    std::string nomeExecutor_;
    bool temNomeComputador_ = false;
    std::string nomeComputador_;
    std::string nomeComputadorMaiusculo_;
    // The full form of each destination folder of this run's requisites (ExpandaCaminho), and
    // whether the folder itself leads outside the launcher's folder (DestinoForaDaEstacao).
    struct THashTexto {
        using is_transparent = void;
        size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    std::unordered_map<std::string, std::pair<std::string, bool>, THashTexto, std::equal_to<>> pastasDestino_;
    // The history index: open addressing over the hashes of the records' keys. It holds no
    // copy of the records: a key is checked, and a record read, in the history's own line.
    std::vector<TEntradaIndice> indiceHistorico_;
    uint64_t versaoIndice_ = UINT64_MAX;
    bool danificadosNomeados_ = false;  // the damaged records are in the log already
    // The key being looked up or indexed: its system, its operation, and its text (the system,
    // the object in upper case and the operation, joined), which is hashed; the object is viewed
    // in it.
    struct TChaveHistorico {
        std::string texto;
        std::string_view sistema;
        std::string_view objeto;
        int32_t operacao = 0;
    };
    TChaveHistorico chave_;
    // The fields of the record being indexed, and of the one being checked (one per field of the
    // history's layout).
    std::vector<std::string_view> camposLinha_, camposRegistro_;
    std::string computadorMaiusculo_;  // the record's computer name as it is compared
};
