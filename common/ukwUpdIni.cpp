// common/ukwUpdIni.cpp: the settings of "kwCFG.ini", "qor.ini" and the [RPC] section.
#include "common/ukwUpdIni.h"

#include "common/ukwFuncoesString.h"
#include "common/ukwUpdConfig.h"
#include "common/ukwUpdLog.h"
#include "common/ukwUpdUtil.h"
#include "platform/Files.h"
#include "rtl/DateTime.h"
#include "rtl/Format.h"
#include "rtl/StringList.h"
#include "rtl/Text.h"

namespace {

// The Windows profile functions give at most this many characters of a value.
constexpr size_t kMaximoValor = 2047;
constexpr int kMaximoBalanceadores = 500;

std::string NomeSemPasta(const std::string& caminho) {
    const size_t p = caminho.find_last_of("/\\");
    return p == std::string::npos ? caminho : caminho.substr(p + 1);
}

std::string PastaDe(const std::string& caminho) {
    const size_t p = caminho.find_last_of("/\\");
    return p == std::string::npos ? std::string() : caminho.substr(0, p + 1);
}

// Upper case of the ASCII letters only, as the server type is compared.
std::string MaiusculasASCII(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return r;
}

// The value is "N" in any case (a switch that is on unless "N"), without an upper-case copy:
// the computer-name switch is asked at every requisite of a verification.
bool EhN(std::string_view valor) {
    return valor == "N" || valor == "n";
}

std::mutex gMutex;
std::unique_ptr<TkwUpdIni> gIni;

}  // namespace

TkwUpdIni::TkwUpdIni(TkwUpdLog* log) : log_(log) {
    const std::string arquivo = kwUpdConfig().GetArquivoINI();
    nomeArquivo_ = NomeSemPasta(arquivo);
    ini_ = std::make_unique<rtl::IniFile>(CaminhoLocal(arquivo));
}

void TkwUpdIni::Detalhe(std::string_view texto) {
    if (log_ != nullptr) log_->AdicioneDetalhe(texto);
}

void TkwUpdIni::RegistreLeitura(std::string_view texto) {
    if (log_ != nullptr) log_->AdicionePartes({" - ", nomeArquivo_, " -> ", texto});
}

void TkwUpdIni::RegistreValor(std::string_view rotulo, std::string_view secao, std::string_view chave,
                              std::string_view valor) {
    if (log_ != nullptr)
        log_->AdicionePartes(
            {" - ", nomeArquivo_, " -> ", rotulo, " (", secao, ",", chave, "): \"", valor, "\""});
}

std::string TkwUpdIni::Leia(std::string_view secao, std::string_view chave, std::string_view padrao) {
    std::string v = ini_->ReadString(secao, chave, padrao);
    if (v.size() > kMaximoValor) v.resize(kMaximoValor);
    return v;
}

std::string TkwUpdIni::Texto(std::string& cache, std::string_view rotulo, std::string_view secao,
                             std::string_view chave, bool registra, std::string_view secaoNoRotulo) {
    std::lock_guard lock(mutex_);
    if (cache.empty()) cache = Leia(secao, chave, "");
    if (registra) RegistreValor(rotulo, secaoNoRotulo.empty() ? secao : secaoNoRotulo, chave, cache);
    return cache;
}

int32_t TkwUpdIni::Numero(int32_t& cache, std::string_view secao, std::string_view chave, int32_t padrao) {
    std::lock_guard lock(mutex_);
    if (cache == -1) {
        int32_t v = 0;
        cache = rtl::TryStrToInt(Leia(secao, chave, rtl::IntToStr(padrao)), v) ? v : padrao;
    }
    return cache;
}

bool TkwUpdIni::TipoServidor() {
    std::lock_guard lock(mutex_);
    if (tipoServidor_.empty()) {
        const std::string valor = Leia("KWUPDATE", "TipoServidor", "");
        const std::string maiusculo = MaiusculasASCII(valor);
        if (maiusculo != "REMOTO" && maiusculo != "LOCAL")
            throw rtl::Exception(
                "Tipo de servidor (kwCFG.ini: Sessão KWUPDATE, Ident: TipoServidor) é inválido. Valor "
                "informado: \"" +
                valor + "\".");
        tipoServidor_ = maiusculo;
    }
    RegistreValor("TipoServidor", "KWUPDATE", "TipoServidor", tipoServidor_);
    return tipoServidor_ == "REMOTO";
}

std::string TkwUpdIni::LocalUpdate() {
    return Texto(localUpdate_, "LocalUpdate", "KWUPDATE", "LocalUpdate");
}

std::string TkwUpdIni::CdSistema() {
    return Texto(cdSistema_, "CdSistema", "KWUPDATE", "CdSistema");
}

bool TkwUpdIni::PodeAtualizar() {
    std::lock_guard lock(mutex_);
    if (podeAtualizar_.empty()) podeAtualizar_ = Leia("KWUPDATE", "PodeAtualizar", "S");
    RegistreValor("PodeAtualizar", "KWUPDATE", "PodeAtualizar", podeAtualizar_);
    return !EhN(podeAtualizar_);
}

bool TkwUpdIni::UsaNomeComputador() {
    std::lock_guard lock(mutex_);
    if (usaNomeComputador_.empty()) usaNomeComputador_ = Leia("KWUPDATE", "UsaNomeComputador", "S");
    RegistreValor("UsaNomeComputador", "KWUPDATE", "UsaNomeComputador", usaNomeComputador_);
    return !EhN(usaNomeComputador_);
}

std::string TkwUpdIni::Alias() {
    return Texto(alias_, "", "KWUPDATE", "Alias", false);
}

std::string TkwUpdIni::Protocolo() {
    std::lock_guard lock(mutex_);
    if (protocolo_.empty()) {
        protocolo_ = Leia("KWUPDATE", "Protocolo", "");
        if (protocolo_.empty()) protocolo_ = Leia("KWUPDATE", "TipoBanco", "");
    }
    return protocolo_;
}

std::string TkwUpdIni::Server() {
    return Texto(server_, "", "KWUPDATE", "Server", false);
}

int32_t TkwUpdIni::MaximoTentativasDownload() {
    return Numero(maximoTentativas_, "KWUPDATE", "MaximoTentativasDownload", 1);
}

int32_t TkwUpdIni::TempoEsperaSegundosNovaTentativaDownload() {
    return Numero(tempoEspera_, "KWUPDATE", "TempoEsperaSegundosNovaTentativaDownload", 1);
}

std::string TkwUpdIni::EnderecoProxy() {
    return Texto(enderecoProxy_, "", "KWUPDATE", "EnderecoProxy", false);
}

int32_t TkwUpdIni::PortaProxy() {
    return Numero(portaProxy_, "KWUPDATE", "PortaProxy", 0);
}

std::string TkwUpdIni::AliasKw3() {
    return Texto(aliasKw3_, "AliasKw3", "DataBaseName", "Alias");
}

std::string TkwUpdIni::EsquemaKw3() {
    return Texto(esquemaKw3_, "EsquemaKw3", "DataBaseName", "Esquema");
}

std::string TkwUpdIni::AliasSessaoServidorKw4() {
    return Texto(aliasSessaoServidorKw4_, "AliasSessaoServidorKw4", "Servidor", "Alias");
}

std::string TkwUpdIni::SecaoDatabase(std::string_view nome) {
    if (rtl::Trim(nome).empty()) return "Database";
    return "Database_" + std::string(nome);
}

std::string TkwUpdIni::AliasKw4(std::string_view nome) {
    const std::string secao = SecaoDatabase(nome);
    return Texto(aliasKw4_, "AliasKw4", secao, "Alias");
}

std::string TkwUpdIni::EsquemaKw4(std::string_view nome) {
    const std::string secao = SecaoDatabase(nome);
    return Texto(esquemaKw4_, "EsquemaKw4", secao, "Esquema");
}

std::string TkwUpdIni::ProtocoloKw4(std::string_view nome) {
    std::lock_guard lock(mutex_);
    if (protocoloKw4_.empty()) {
        const std::string secao = SecaoDatabase(nome);
        protocoloKw4_ = Leia(secao, "Protocolo", "");
        if (protocoloKw4_.empty()) protocoloKw4_ = Leia(secao, "TipoBanco", "");
    }
    return protocoloKw4_;
}

std::string TkwUpdIni::ServerKw4(std::string_view nome) {
    const std::string secao = SecaoDatabase(nome);
    return Texto(serverKw4_, "", secao, "Server", false);
}

std::string TkwUpdIni::NomeServidorKw4() {
    return Texto(nomeServidorKw4_, "NomeServidorKw4", "Servidor", "nomeServidor");
}

std::string TkwUpdIni::GuidServidorKw4() {
    return Texto(guidServidorKw4_, "GuidServidorKw4", "Servidor", "GUIDServidor");
}

std::string TkwUpdIni::EnderecoIPKw4() {
    return Texto(enderecoIPKw4_, "EnderecoIPKw4", "Servidor", "enderecoIP");
}

std::string TkwUpdIni::EnderecoURLKw4() {
    return Texto(enderecoURLKw4_, "EnderecoURLKw4", "Servidor", "enderecoURL");
}

std::string TkwUpdIni::TipoConexaoKw4() {
    return Texto(tipoConexaoKw4_, "TipoConexaoKw4", "Servidor", "tipoconexao");
}

bool TkwUpdIni::PodeBalancearKW4() {
    std::lock_guard lock(mutex_);
    if (podeBalancearKW4_.empty()) podeBalancearKW4_ = Leia("Servidor", "PodeBalancear", "S");
    RegistreValor("PodeBalancearKW4", "Servidor", "PodeBalancear", podeBalancearKW4_);
    return rtl::UpperCase(podeBalancearKW4_) == "S";
}

int32_t TkwUpdIni::TimeoutConexaoBalanceador() {
    return Numero(timeoutBalanceador_, "Servidor", "TimeoutConexaoBalanceador", 10);
}

int32_t TkwUpdIni::TimeoutConexaoServidorAplicacao() {
    return Numero(timeoutServidor_, "Servidor", "TimeoutConexaoServidorAplicacao", 60);
}

int32_t TkwUpdIni::TimeoutTesteRede() {
    std::lock_guard lock(mutex_);
    if (timeoutTesteRede_ == -1) {
        int32_t segundos = 0;
        if (!rtl::TryStrToInt(Leia("Servidor", "TimeoutTesteRede", "4"), segundos)) segundos = 4;
        // Seconds beyond what milliseconds can hold count as the default.
        timeoutTesteRede_ =
            (segundos > INT32_MAX / 1000 || segundos < INT32_MIN / 1000) ? 4000 : segundos * 1000;
    }
    return timeoutTesteRede_;
}

std::string TkwUpdIni::GUIDKWBalanceadorKW4() {
    return Texto(guidBalanceador_, "GUIDKWBalanceadorKW4", "kwBalanceador", "GUID");
}

std::string TkwUpdIni::ListaBalanceadores(std::string& cache, std::string_view rotulo,
                                          std::string_view chave) {
    std::lock_guard lock(mutex_);
    if (cache.empty()) {
        for (int i = 1; i <= kMaximoBalanceadores; ++i) {
            const std::string valor = Leia("kwBalanceador", std::string(chave) + rtl::IntToStr(i), "");
            if (valor.empty()) continue;
            if (!cache.empty()) cache += ';';
            cache += valor;
        }
    }
    RegistreValor(rotulo, "kwBalanceador", chave, cache);
    return cache;
}

std::string TkwUpdIni::EnderecoIPKWBalanceadorKW4() {
    return ListaBalanceadores(enderecosIPBalanceador_, "EnderecoIPKWBalanceadorKW4", "EnderecoIP");
}

std::string TkwUpdIni::EnderecoURLKWBalanceadorKW4() {
    return ListaBalanceadores(enderecosURLBalanceador_, "EnderecoURLKWBalanceadorKW4", "EnderecoURL");
}

std::string TkwUpdIni::EnderecosKWBalanceadorKW4() {
    std::lock_guard lock(mutex_);
    std::string r;
    const auto junte = [&r](const std::string& lista, std::string_view prefixo) {
        for (int i = 1;; ++i) {
            const std::string campo = ObtenhaCampo(lista, ";", i);
            if (campo.empty()) break;
            r.append(prefixo).append(campo).append(";");
        }
    };
    junte(EnderecoIPKWBalanceadorKW4(), "IP:");
    junte(EnderecoURLKWBalanceadorKW4(), "URL:");
    if (!r.empty()) r.pop_back();
    return r;
}

bool TkwUpdIni::EhKw4() {
    std::lock_guard lock(mutex_);
    if (ehKw4_.empty()) ehKw4_ = ini_->SectionExists("DataBaseName") ? "KW3" : "KW4";
    return ehKw4_ == "KW4";
}

// ---- [RPC] and its diagnostics ----------------------------------------------------------------

std::string TkwUpdIni::PastaDeLog() const {
    // Beside the configuration file in use, also when it is "ServidorLocalUpdate.ini".
    return PastaDe(kwUpdConfig().GetArquivoINI()) + "log/";
}

void TkwUpdIni::EscreverConfiguracoesRPC(bool controlarReconexao, bool consultarDispIDLocal) {
    Detalhe("Escrevendo configurações de RPC no kwCFG.ini");
    const std::string arquivo = kwUpdConfig().GetArquivoINI();
    try {
        rtl::IniFile escritor(CaminhoLocal(arquivo));
        escritor.WriteBool("RPC", "ControlarReconexao", controlarReconexao);
        escritor.WriteBool("RPC", "ConsultarDispIDLocal", consultarDispIDLocal);
    } catch (const rtl::EIniFileException& e) {
        // The INI error's own text is English and without its cause.
        throw rtl::EIniFileException(MensagemErroGravacao(arquivo, e));
    }
    Detalhe("Concluída configurações de RPC no kwCFG.ini");
}

void TkwUpdIni::CriarCopiaArquivoINI(const std::string& nome) {
    try {
        const std::string arquivo = kwUpdConfig().GetArquivoINI();
        const std::string copia = PastaDeLog() + nome;
        Detalhe(rtl::Format("Criando a cópia %s do arquivo %s", copia, arquivo));
        // A copy that fails is not reported: the comparison later says the copy is missing.
        plat::TryCopyFile(CaminhoLocal(arquivo), CaminhoLocal(copia));
    } catch (const std::exception& e) {
        Detalhe(std::string("TkwUpdIni.CriarCopiaArquivoINI: ") + e.what());
    }
}

void TkwUpdIni::LogarAtributosArquivo(const std::string& caminho) {
    Detalhe("Propriedades do arquivo " + caminho);
    try {
        const std::string local = CaminhoLocal(caminho);
        const auto idade = plat::FileLastWriteTime(local);
        Detalhe("FileAge: " + rtl::DateTimeToStr(rtl::DateTimeFromTimePoint(idade)));
        const auto simNao = [](bool b) { return std::string(b ? "Sim" : "Não"); };
        Detalhe("ReadOnly: " + simNao(plat::IsReadOnly(local)));
        // This platform keeps no archive or system attribute.
        Detalhe("Archive: " + simNao(false));
        Detalhe("System: " + simNao(false));
        Detalhe("Hidden: " + simNao(plat::IsHiddenName(local)));
    } catch (const std::exception& e) {
        Detalhe(std::string("TkwUpdIni.LogarAtributosArquivo: ") + e.what());
    }
}

void TkwUpdIni::LogarAtributosArquivoINI() {
    const std::string arquivo = kwUpdConfig().GetArquivoINI();
    if (plat::FileExists(CaminhoLocal(arquivo)))
        LogarAtributosArquivo(arquivo);
    else
        Detalhe("O arquivo " + arquivo + " NÃO existe.");
}

void TkwUpdIni::CompararCopiasArquivoINI(const std::string& primeiro, const std::string& segundo) {
    Detalhe("Verificando os arquivos de backup...");
    const std::string pasta = PastaDeLog();
    const std::string a = pasta + primeiro;
    const std::string b = pasta + segundo;
    for (const std::string* c : {&a, &b}) {
        if (!plat::FileExists(CaminhoLocal(*c))) {
            Detalhe("O arquivo de backup " + *c + " não existe.");
            return;
        }
    }
    try {
        rtl::StringList la, lb;
        la.LoadFromFile(CaminhoLocal(a));
        lb.LoadFromFile(CaminhoLocal(b));
        if (la.Lines() == lb.Lines()) {
            Detalhe("Os arquivos de backup são iguais e serão removidos.");
            plat::TryDeleteFile(CaminhoLocal(a));
            plat::TryDeleteFile(CaminhoLocal(b));
        } else {
            Detalhe("Os arquivos de backup são diferentes.");
        }
    } catch (const std::exception& e) {
        // A copy that cannot be read stays, as copies that differ do.
        Detalhe(std::string("TkwUpdIni.CompararCopiasArquivoINI: ") + e.what());
    }
}

TkwUpdIni& kwUpdIni() {
    std::lock_guard lock(gMutex);
    if (!gIni) gIni = std::make_unique<TkwUpdIni>();
    return *gIni;
}

void ResetIniSingleton() {
    std::lock_guard lock(gMutex);
    gIni.reset();
}

bool TkwQorIni::UsaGravacaoOffline() {
    const rtl::IniFile qor(CaminhoLocal(ObtenhaDiretorioExecutavel() + "qor.ini"));
    usaGravacaoOffline_ = qor.ReadString("NONET", "USAGRAVACAOOFFLINE", "") == "S";
    return usaGravacaoOffline_;
}
