// launcher/ukwUpdRequisitosBanco.cpp: the requisites, the versioned-update flag and the RPC
// switches from the application database.
#include "launcher/ukwUpdRequisitosBanco.h"

#include <memory>
#include <utility>
#include <vector>

#include "common/ukwUpdIni.h"
#include "common/ukwUpdLog.h"
#include "common/ukwUpdTranslator.h"
#include "common/ukwUpdVersao.h"
#include "database/facade/ukwCriptografia.h"
#include "database/facade/ukwDatabase.h"
#include "database/facade/ukwQuery.h"
#include "launcher/ukwUpdLoader.h"
#include "rtl/Exception.h"
#include "rtl/Text.h"

namespace {

std::string EntreAspas(const std::string& texto) {
    return "\"" + texto + "\"";
}

std::string MensagemDe(const std::exception& e) {
    if (const auto* r = dynamic_cast<const rtl::Exception*>(&e)) return r->Message();
    return e.what();
}

rtl::StringList Linhas(std::initializer_list<std::string> linhas) {
    rtl::StringList lista;
    for (const auto& l : linhas)
        lista.Add(l);
    return lista;
}

void ParametroInteiro(TkwQuery& q, const char* nome, int32_t valor) {
    rtl::Param* p = q.ParamByName(nome);
    p->SetDataType(rtl::ftInteger);
    p->SetValue(rtl::Variant(valor));
}

void ParametroTexto(TkwQuery& q, const char* nome, rtl::TFieldType tipo, const std::string& valor) {
    rtl::Param* p = q.ParamByName(nome);
    p->SetDataType(tipo);
    p->SetValue(rtl::Variant(valor));
}

std::string Texto(TkwQuery& q, const char* campo) {
    return q.FieldByName(campo)->AsString();
}

// A text column read with its default for null.
std::string TextoOuPadrao(TkwQuery& q, const char* campo, const char* padrao) {
    rtl::TField* f = q.FieldByName(campo);
    return f->IsNull() ? std::string(padrao) : f->AsString();
}

// What a site row gives the lines of its system.
struct SiteDoSistema {
    bool encontrado = false;
    std::string local, usuario, senha;
    std::string local2, local3;
    std::string disponivel1 = "S", disponivel2 = "N", disponivel3 = "N";
};

// Frees a facade database at the end of an exchange, disconnected first. A failure to close
// is logged; it must not replace the failure that may be on its way out.
struct DatabaseDaTroca {
    std::unique_ptr<TkwDatabase> db = std::make_unique<TkwDatabase>();
    TkwUpdLog* log;
    explicit DatabaseDaTroca(TkwUpdLog* l) : log(l) {}
    ~DatabaseDaTroca() {
        try {
            db->SetConnected(false);
        } catch (const std::exception& e) {
            if (log != nullptr)
                log->AdicioneDetalhe("Erro ao desconectar do banco de dados: " + MensagemDe(e));
        }
    }
};

}  // namespace

bool EsquemaValido(std::string_view esquema) {
    std::string e = rtl::Trim(esquema);
    if (e.empty()) return true;
    if (e.back() == '.') e.pop_back();
    if (e.empty()) return false;
    if (e.front() == '"') {
        if (e.size() < 3 || e.back() != '"') return false;
        for (size_t i = 1; i + 1 < e.size(); ++i) {
            const auto c = static_cast<unsigned char>(e[i]);
            if (c == '"' || c < 0x20 || c == 0x7F) return false;
        }
        return true;
    }
    for (const char ch : e) {
        const auto c = static_cast<unsigned char>(ch);
        const bool letra = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!letra && !(c >= '0' && c <= '9') && c != '_' && c != '$' && c != '#') return false;
    }
    return true;
}

std::string MensagemEsquemaInvalido(std::string_view esquema) {
    return "O Esquema \"" + rtl::Trim(esquema) +
           "\" do kwCFG.ini não é um nome de esquema válido (somente letras, dígitos, \"_\", \"$\" e "
           "\"#\", ou um nome entre aspas duplas). Verifique se o arquivo \"kwCFG.ini\" foi configurado "
           "corretamente.";
}

std::string MonteNomeTabela(std::string_view tabela, std::string_view esquema) {
    const std::string t = rtl::Trim(tabela);
    const std::string e = rtl::Trim(esquema);
    if (e.empty()) return t;
    if (!EsquemaValido(e)) throw rtl::Exception(MensagemEsquemaInvalido(e));
    return e.back() == '.' ? e + t : e + "." + t;
}

int LayoutRequisitosBanco(int32_t numeroVersao) {
    if (numeroVersao >= 4030) return 4;
    if (numeroVersao < 3300) return 1;
    return 2;
}

// ---- The requisites query ----------------------------------------------------------------------

TkwDadosRequisitosBanco GetDadosRequisitosBanco(TkwDatabase& database, const std::string& esquema,
                                                int32_t cdSistema, int32_t cdSistemaGenerico,
                                                int32_t cdLocalUpdate, int layout) {
    TkwDadosRequisitosBanco r;
    TkwUpdLog log;
    log.Adicione("INICIO - GetDadosRequisitosBanco...");
    log.AdicioneDetalhe("INICIO - Selecionado LOCAL UPDATE...");
    const std::string sistema = rtl::IntToStr(cdSistema);
    const std::string generico = rtl::IntToStr(cdSistemaGenerico);
    try {
        auto q = std::make_unique<TkwQuery>();
        q->SetDatabase(&database);

        // ---- Update sites.
        rtl::StringList sql =
            Linhas({"select", " LU.CDSISTEMA,", " LU.CDLOCALUPDATE,", " LU.DELOCALUPDATE,", " LU.DEUSUARIO,",
                    " LU.DESENHA,", " LU.FLDEFAULT,", " LU.DTCONFIGURACAO"});
        if (layout == 2 || layout == 4) {
            sql.Add(" ,LU.deLocalUpdate2");
            sql.Add(" ,LU.flDisponivel1");
            sql.Add(" ,LU.flDisponivel2");
        }
        if (layout == 4) {
            sql.Add(" ,LU.deLocalUpdate3");
            sql.Add(" ,LU.flDisponivel3");
        }
        sql.Add("from");
        sql.Add(MonteNomeTabela("epadLocalUpdate", esquema) + " LU");
        sql.Add("where");
        sql.Add(" (LU.cdSistema = :cdSistema");
        sql.Add("  or LU.cdSistema = :cdSistemaGenerico)");
        sql.Add(cdLocalUpdate < 0 ? " and LU.flDefault = :flDefault"
                                  : " and LU.cdLocalUpdate = :cdLocalUpdate");
        q->SetSQL(sql);
        ParametroInteiro(*q, "cdSistema", cdSistema);
        ParametroInteiro(*q, "cdSistemaGenerico", cdSistemaGenerico);
        if (cdLocalUpdate < 0)
            ParametroTexto(*q, "flDefault", rtl::ftFixedChar, "S");
        else
            ParametroInteiro(*q, "cdLocalUpdate", cdLocalUpdate);
        q->Open();
        q->FetchAll();
        log.AdicioneDetalhe("Consulta OK");
        log.AdicioneDetalhe(rtl::IntToStr(q->RecordCount()) + " registro(s) selecionado(s)");
        log.AdicioneDetalhe("Processado dados...");

        SiteDoSistema siteSistema, siteGenerico;
        q->First();
        while (!q->Eof()) {
            const int32_t cd = q->FieldByName("CDSISTEMA")->AsInteger();
            SiteDoSistema* site = nullptr;
            if (cd == cdSistema) {
                site = &siteSistema;
            } else if (cd == cdSistemaGenerico) {
                site = &siteGenerico;
            }
            if (site != nullptr) {
                // Every value of the site comes from this one row, so a later row of the other
                // system cannot lend its secondary sites or flags to this system's lines.
                SiteDoSistema novo;
                novo.encontrado = true;
                novo.local = Texto(*q, "DELOCALUPDATE");
                novo.usuario = Texto(*q, "DEUSUARIO");
                novo.senha = Texto(*q, "DESENHA");
                if (layout == 2 || layout == 4) {
                    novo.local2 = Texto(*q, "deLocalUpdate2");
                    novo.disponivel1 = TextoOuPadrao(*q, "flDisponivel1", "S");
                    novo.disponivel2 = TextoOuPadrao(*q, "flDisponivel2", "N");
                }
                if (layout == 4) {
                    novo.local3 = Texto(*q, "deLocalUpdate3");
                    novo.disponivel3 = TextoOuPadrao(*q, "flDisponivel3", "N");
                }
                *site = std::move(novo);
                if (site == &siteSistema)
                    log.AdicioneDetalhe("Local update do sistema " + EntreAspas(sistema) + " encontrado");
                else
                    log.AdicioneDetalhe("Local update do sistema genérico " + EntreAspas(generico) +
                                        " encontrado");
            }
            q->Next();
        }
        log.AdicioneDetalhe("Dados processados");
        q->Close();
        log.AdicioneDetalhe("FIM - Selecionado LOCAL UPDATE...");
        log.AdicioneDetalhe("INICIO - Selecionando OBJETO UPDATE...");

        // ---- Objects.
        q->SetSQL(Linhas({"select", " OU.CDSISTEMA,", " OU.CDOBJETOUPDATE,", " OU.NMOBJETO,",
                          " OU.NUSEQOBJETO,", " OU.NMLOCALDESTINO,", " OU.NMLOCALORIGEM,", " OU.NUCONTROLE,",
                          " OU.CDTIPOOPERACAO,", " OU.DTCONFIGURACAO,", " OU.NUCRC", "from",
                          MonteNomeTabela("epadObjetoUpdate", esquema) + " OU", "where",
                          " (OU.cdSistema = :cdSistema", "  or OU.cdSistema = :cdSistemaGenerico)",
                          "order by", " OU.cdSistema, OU.nuSeqObjeto"}));
        ParametroInteiro(*q, "cdSistema", cdSistema);
        ParametroInteiro(*q, "cdSistemaGenerico", cdSistemaGenerico);
        q->Open();
        q->FetchAll();
        log.AdicioneDetalhe("Consulta OK");
        log.AdicioneDetalhe(rtl::IntToStr(q->RecordCount()) + " registro(s) selecionado(s)");
        log.AdicioneDetalhe("Carregando dados da consulta...");

        bool objetosSistema = false, objetosGenerico = false;
        std::vector<std::string> linhas;
        q->First();
        while (!q->Eof()) {
            const std::string cd = Texto(*q, "CDSISTEMA");
            const int32_t codigo = q->FieldByName("CDSISTEMA")->AsInteger();
            const std::string objeto = Texto(*q, "NMOBJETO");
            std::vector<std::pair<const char*, std::string>> campos = {
                {"cdSistema", cd},
                {"nuSeqObjeto", Texto(*q, "NUSEQOBJETO")},
                {"nmObjeto", objeto},
                {"nmLocalDestino", Texto(*q, "NMLOCALDESTINO")},
                {"nmLocalOrigem", Texto(*q, "NMLOCALORIGEM")},
                {"nuControle", Texto(*q, "NUCONTROLE")},
                {"cdTipoOperacao", Texto(*q, "CDTIPOOPERACAO")},
            };
            const SiteDoSistema* site = nullptr;
            if (codigo == cdSistema) {
                site = &siteSistema;
                objetosSistema = true;
            } else if (codigo == cdSistemaGenerico) {
                site = &siteGenerico;
                objetosGenerico = true;
            }
            const SiteDoSistema vazio;
            const SiteDoSistema& s = site != nullptr ? *site : vazio;
            if (site != nullptr) {
                campos.push_back({"deLocalUpdate", s.local});
                campos.push_back({"deUsuario", s.usuario});
                campos.push_back({"deSenha", s.senha});
            }
            campos.push_back({"nuCRC", Texto(*q, "NUCRC")});
            if (layout == 4) {
                campos.push_back({"deLocalUpdate2", s.local2});
                campos.push_back({"deLocalUpdate3", s.local3});
                campos.push_back({"flDisponivel1", s.disponivel1});
                campos.push_back({"flDisponivel2", s.disponivel2});
                campos.push_back({"flDisponivel3", s.disponivel3});
            } else if (layout == 2) {
                campos.push_back({"deLocalUpdate2", s.local2});
                campos.push_back({"flDisponivel1", s.disponivel1});
                campos.push_back({"flDisponivel2", s.disponivel2});
            }

            // A separator or a line break inside a value would shift every later field of the
            // line (or start another line): such an object is left out, and the log says why.
            const char* campoInvalido = nullptr;
            for (const auto& [nome, valor] : campos)
                if (valor.find_first_of(";\r\n") != std::string::npos) {
                    campoInvalido = nome;
                    break;
                }
            if (campoInvalido != nullptr) {
                log.AdicioneDetalhe("ATENÇÃO!!! O objeto update " + EntreAspas(objeto) + " do sistema " +
                                    EntreAspas(cd) + " foi ignorado: o valor do campo " + campoInvalido +
                                    " contém \";\" ou uma quebra de linha.");
            } else {
                std::string linha;
                for (size_t i = 0; i < campos.size(); ++i) {
                    if (i > 0) linha += ';';
                    linha += campos[i].second;
                }
                linhas.push_back(std::move(linha));
            }
            q->Next();
        }
        q->Close();
        if (objetosSistema) log.AdicioneDetalhe("Objetos do sistema " + EntreAspas(sistema) + " encontrados");
        if (objetosGenerico)
            log.AdicioneDetalhe("Objetos do sistema genérico " + EntreAspas(generico) + " encontrados");
        log.AdicioneDetalhe("Dados carregados");
        log.AdicioneDetalhe("FIM - Selecionando OBJETO UPDATE...");
        log.AdicioneDetalhe("Verificando a consistência dos dados...");

        // ---- Consistency.
        if (!objetosSistema && !linhas.empty())
            log.AdicioneDetalhe(
                "ATENÇÃO!!! O Sistema " + EntreAspas(sistema) +
                " não possui objetos update cadastrados. Foram encontrados apenas objetos update "
                "do sistema genérico " +
                EntreAspas(generico) + ".");
        std::string erro;
        const std::string local = rtl::IntToStr(cdLocalUpdate);
        if (!objetosSistema && !objetosGenerico) {
            erro = "Os objetos não foram cadastrados para o sistema " + EntreAspas(sistema) +
                   " e o sistema genérico " + EntreAspas(generico);
        } else if (objetosSistema && !siteSistema.encontrado) {
            erro =
                cdLocalUpdate < 0
                    ? "Nenhum local update cadastrado ou não existe um local update default para o sistema " +
                          EntreAspas(sistema)
                    : "O local de update do sistema não foi encontrado. Sistema: " + sistema +
                          ". Local update: " + local +
                          ". Verifique se o local update foi cadastrado para este sistema";
        } else if (objetosGenerico && !siteGenerico.encontrado) {
            erro = cdLocalUpdate < 0
                       ? "Nenhum local update cadastrado ou não existe um local update default para o "
                         "sistema genérico " +
                             EntreAspas(generico)
                       : "O local de update do sistema genérico não foi encontrado. Sistema genérico: " +
                             generico + ". Local update: " + local +
                             ". Verifique se o local update foi cadastrado para o sistema genérico";
        }
        if (!erro.empty()) {
            log.AdicioneErro(erro);
            r.Erro = erro;
        } else {
            log.AdicioneDetalhe("Dados OK");
            log.AdicioneDetalhe("Contando registros...");
            log.AdicioneDetalhe(rtl::IntToStr(int64_t(linhas.size())) + " registro(s) carregado(s)");
            log.AdicioneDetalhe("Retornando os dados...");
            for (const auto& l : linhas)
                r.Requisitos += l + "\r\n";
            log.AdicioneDetalhe("Consulta ao banco de dados OK");
        }
    } catch (const std::exception& e) {
        r.Erro = MensagemDe(e);
        r.Requisitos.clear();
    }
    log.Adicione("FIM - GetDadosRequisitosBanco");
    r.LogConsulta = log.GetTexto();
    return r;
}

TkwDadosVersionadaBanco TestarSeAtualizacaoVersionadaBanco(TkwDatabase& database,
                                                           const std::string& esquema) {
    TkwDadosVersionadaBanco r;
    TkwUpdLog log;
    log.Adicione("INICIO - TestarSeAtualizacaoVersionadaBanco...");
    try {
        auto q = std::make_unique<TkwQuery>();
        q->SetDatabase(&database);
        q->SetSQL(
            Linhas({"select", " CF.DEIPSERVIDOR,", " CF.DENOMEAPLICATIVO,", " CF.DECHAVE,", " CF.DEVALOR,",
                    " CF.DEDESCRICAO", " from", MonteNomeTabela("epadConfigServidor", esquema) + " CF",
                    " where", " CF.DECHAVE = :dechave"}));
        ParametroTexto(*q, "deChave", rtl::ftString, "OBJETO_UPDATE_VERSIONADO");
        q->Open();
        q->First();
        if (!q->IsEmpty()) r.Versionada = rtl::UpperCase(Texto(*q, "DEVALOR")) == "TRUE";
        q->Close();
    } catch (const std::exception& e) {
        r.Versionada = false;
        r.Erro = "Erro: " + MensagemDe(e);
        log.Adicione(r.Erro);
    }
    log.Adicione("FIM - TestarSeAtualizacaoVersionadaBanco");
    r.LogConsulta = log.GetTexto();
    return r;
}

// ---- The road ------------------------------------------------------------------------------------

TkwUpdRequisitosObtidos TkwUpdEstradaBanco::ObtenhaRequisitos(TkwUpdLoader& loader) {
    TkwUpdRequisitosObtidos r;
    r.Requisitos = PegueDadosRequisitosBanco(loader);
    r.AtualizacaoVersionada = TestarSeAtualizacaoVersionadaBanco(loader);
    ConfigureParametrosRPC(loader);
    return r;
}

std::string TkwUpdEstradaBanco::ObtenhaEsquema() {
    TkwUpdIni& ini = kwUpdIni();
    return ini.EhKw4() ? ini.EsquemaKw4(ini.AliasSessaoServidorKw4()) : ini.EsquemaKw3();
}

std::string TkwUpdEstradaBanco::ObtenhaNomeTabela(const std::string& tabela) {
    return MonteNomeTabela(tabela, ObtenhaEsquema());
}

void TkwUpdEstradaBanco::ConfigurarConexaoComBanco(TkwUpdLoader& loader, TkwDatabase* database) {
    TkwUpdLog& log = *loader.Log;
    log.Adicione("INICIO - ConfigurarConexaoComBanco...");
    if (database == nullptr) {
        log.Adicione("Não foi criado o objeto database...");
        return;
    }
    log.AdicioneDetalhe("Verificando tipo do kwCFG.ini (KW3 ou KW4)...");

    TkwUpdIni& ini = kwUpdIni();
    TAccessTypeDB acesso = atBDE;
    std::string alias, tipoBanco, servidor, esquema, secao;
    if (!ini.EhKw4()) {
        log.AdicioneDetalhe("kwCFG.ini do KW3. Pegando \"Alias\" e \"Esquema\" do banco de dados...");
        alias = ini.AliasKw3();
        esquema = ini.EsquemaKw3();
        secao = "DatabaseName";
    } else {
        const std::string nome = ini.AliasSessaoServidorKw4();
        const std::string aliasSecao = ini.AliasKw4(nome);
        const std::string aliasKwUpdate = ini.Alias();
        esquema = ini.EsquemaKw4(nome);
        const std::string protocoloSecao = ini.ProtocoloKw4(nome);
        const std::string protocoloKwUpdate = ini.Protocolo();
        const std::string servidorSecao = ini.ServerKw4(nome);
        const std::string servidorKwUpdate = ini.Server();
        if (!aliasKwUpdate.empty()) {
            // [KWUPDATE] names the database of the updates itself.
            secao = "KWUpdate";
            alias = aliasKwUpdate;
            servidor = servidorKwUpdate;
            if (!protocoloKwUpdate.empty()) {
                acesso = atSQLD;
                tipoBanco = protocoloKwUpdate;
            }
        } else {
            secao = "Database";
            alias = aliasSecao;
            tipoBanco = protocoloSecao;
            servidor = servidorSecao;
            if (!aliasSecao.empty() && !protocoloSecao.empty()) acesso = atSQLD;
        }
    }

    const std::string verifique = "Verifique se o arquivo \"kwCFG.ini\" foi configurado corretamente.";
    // The schema goes into every statement: anything but one identifier stops here, before a
    // connection is opened.
    if (!EsquemaValido(esquema)) throw TkwUpdException(MensagemEsquemaInvalido(esquema), log);
    if (alias.empty())
        throw TkwUpdException("O Alias para conexão com o banco de dados não foi informado na seção [" +
                                  secao + "]. " + verifique,
                              log);
    if (acesso == atSQLD) {
        if (tipoBanco.empty())
            throw TkwUpdException(
                "O TipoBanco ou Protocolo para conexão com o banco de dados não foi informado "
                "na seção [" +
                    secao + "]. " + verifique,
                log);
        if (tipoBanco == NomeTipoBanco(tbSqlServer) && servidor.empty())
            throw TkwUpdException("O Server para conexão com o banco de dados não foi informado na seção [" +
                                      secao + "]. " + verifique,
                                  log);
    }

    log.AdicioneDetalhe("Dados do kwCFG.ini pegos com sucesso");
    log.AdicioneDetalhe("Criando Database...");
    auto query = std::make_unique<TkwQuery>();
    log.AdicioneDetalhe("Database criado com sucesso");

    database->SetLoginPrompt(false);
    database->SetDatabaseName(alias);
    database->SetAccessTypeDB(acesso);
    database->SetAliasName(alias);
    database->SetConnected(false);
    database->Params().Clear();
    database->SetConnectionUser(loader.DBUser);
    database->SetConnectionPassword(loader.DBPassword);
    if (tipoBanco == NomeTipoBanco(tbDB2))
        database->SetTipoBanco(tbDB2);
    else if (tipoBanco == NomeTipoBanco(tbOracle))
        database->SetTipoBanco(tbOracle);
    else if (tipoBanco == NomeTipoBanco(tbSqlServer))
        database->SetTipoBanco(tbSqlServer);
    if (database->TipoBanco() == tbSqlServer) database->SetkwServer(servidor);

    log.AdicioneDetalhe("Abrindo uma conexão com o banco de dados...");
    try {
        database->SetConnected(true);
        query->SetDatabase(database);
        // The same qualified name as every other statement: a blank schema reads the bare
        // table, never ".esegConexao".
        query->SetSQL(Linhas({"select cdUsuario, deSenha from " + MonteNomeTabela("esegConexao", esquema)}));
        query->Open();
        const bool temCredenciais = !query->IsEmpty();
        std::string usuario, senha;
        if (temCredenciais) {
            usuario = Texto(*query, "cdUsuario");
            senha = DescriptografeSenha(Texto(*query, "deSenha"));
        }
        query->Close();
        if (temCredenciais) {
            database->SetConnected(false);
            database->SetConnectionUser(usuario);
            database->SetConnectionPassword(senha);
            database->SetConnected(true);
        }
    } catch (const std::exception& e) {
        const std::string mensagem = MensagemDe(e);
        log.AdicioneErro(mensagem);
        throw TkwUpdException(Traduza(66, mensagem, alias), log);
    }
    log.AdicioneDetalhe("Conexão aberta com sucesso.");
    log.Adicione("FIM - ConfigurarConexaoComBanco");
}

std::string TkwUpdEstradaBanco::PegueDadosRequisitosBanco(TkwUpdLoader& loader) {
    TkwUpdLog& log = *loader.Log;
    log.Adicione("INICIO - PegueDadosRequisitosBanco...");
    DatabaseDaTroca troca(&log);
    log.AdicioneDetalhe("Pegando os dados dos requisitos...");
    ConfigurarConexaoComBanco(loader, troca.db.get());
    if (!troca.db->Connected()) return "";

    const TkwDadosRequisitosBanco dados =
        GetDadosRequisitosBanco(*troca.db, ObtenhaEsquema(), loader.CdSistema, loader.CdSistemaGenerico,
                                loader.CdLocalUpdate, LayoutRequisitosBanco(ObtenhaNumeroVersao()));
    log.AdicioneTexto(dados.LogConsulta);
    if (!dados.Erro.empty()) throw TkwUpdException(Traduza(67, dados.Erro), log);
    log.AdicioneDetalhe("Dados pegos com sucesso");
    log.Adicione("FIM - PegueDadosRequisitosBanco");
    return dados.Requisitos;
}

bool TkwUpdEstradaBanco::TestarSeAtualizacaoVersionadaBanco(TkwUpdLoader& loader) {
    TkwUpdLog& log = *loader.Log;
    log.Adicione("INICIO - TestarSeAtualizacaoVersionadaBanco...");
    DatabaseDaTroca troca(&log);
    ConfigurarConexaoComBanco(loader, troca.db.get());
    if (!troca.db->Connected()) return false;
    const TkwDadosVersionadaBanco dados = ::TestarSeAtualizacaoVersionadaBanco(*troca.db, ObtenhaEsquema());
    log.AdicioneTexto(dados.LogConsulta);
    if (!dados.Erro.empty()) throw TkwUpdException(Traduza(67, dados.Erro), log);
    log.Adicione("FIM - TestarSeAtualizacaoVersionadaBanco");
    return dados.Versionada;
}

bool TkwUpdEstradaBanco::ConsulteParametroRPC(TkwQuery& query, const std::string& chave) {
    query.SetSQL(Linhas({"SELECT deValor", "FROM " + ObtenhaNomeTabela("epadConfigServidor"),
                         "WHERE deChave = " + rtl::QuotedStr(chave)}));
    query.Open();
    bool ligado = false;
    if (!query.IsEmpty()) ligado = rtl::SameText(Texto(query, "deValor"), "TRUE");
    query.Close();
    return ligado;
}

TkwUpdEstradaBanco::ParametrosRPC TkwUpdEstradaBanco::PegueParametrosRPCBanco(TkwUpdLoader& loader) {
    ParametrosRPC r;
    DatabaseDaTroca troca(loader.Log);
    auto query = std::make_unique<TkwQuery>();
    try {
        ConfigurarConexaoComBanco(loader, troca.db.get());
        if (!troca.db->Connected()) return r;
        query->SetDatabase(troca.db.get());
        r.ControlarReconexao = ConsulteParametroRPC(*query, "RPC.CONTROLAR_RECONEXAO");
        r.ConsultarDispIDLocal = ConsulteParametroRPC(*query, "RPC.CONSULTAR_DISPID_LOCAL");
    } catch (const std::exception& e) {
        // A switch that cannot be read is off; the run goes on. The cause goes to the log, so
        // an "off" that is really a failure can be told apart.
        loader.Log->AdicioneDetalhe("Não foi possível consultar os parâmetros RPC: " + MensagemDe(e));
    }
    return r;
}

void TkwUpdEstradaBanco::ConfigureParametrosRPC(TkwUpdLoader& loader) {
    loader.Log->AdicioneDetalhe("Consultar parâmetros RPC");
    const ParametrosRPC p = PegueParametrosRPCBanco(loader);
    TkwUpdIni& ini = kwUpdIni();
    ini.LogarAtributosArquivoINI();
    ini.CriarCopiaArquivoINI("kwCFG-antes-RPC.ini");
    ini.EscreverConfiguracoesRPC(p.ControlarReconexao, p.ConsultarDispIDLocal);
    ini.CriarCopiaArquivoINI("kwCFG-depois-RPC.ini");
    ini.CompararCopiasArquivoINI("kwCFG-antes-RPC.ini", "kwCFG-depois-RPC.ini");
}
