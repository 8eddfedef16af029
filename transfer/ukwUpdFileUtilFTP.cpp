// transfer/ukwUpdFileUtilFTP.cpp: TransfiraArquivoFTP and its listing helpers.
//
// The transfer runs: connect and log in (3500 ms for each wait), change to the remote folder
// ("~" or "/" first, then the folder relative to it), look the file up in the name list, and
// move it in binary mode. Every failure becomes one catalogue text in UltimoErro; which one
// depends on the step and on the failure's class (see the header of the catalogue table in
// ukwUpdTranslator).
#include "transfer/ukwUpdFileUtilFTP.h"

#include <memory>

#include "common/ukwFuncoesString.h"
#include "common/ukwTransfereVersaoComum.h"
#include "common/ukwUpdConstante.h"
#include "common/ukwUpdTranslator.h"
#include "common/ukwUpdUtil.h"
#include "crypto/base/SBUtils.h"
#include "platform/Files.h"
#include "rtl/Exception.h"
#include "rtl/Format.h"
#include "rtl/Stream.h"
#include "rtl/Text.h"
#include "tls/SBSimpleFTPS.h"
#include "transfer/ukwUpdFileUtil.h"

TElSimpleFTPSClient* ClienteFTPAtual = nullptr;

namespace {

// Connecting and logging in must not hang the launcher on a server that does not answer.
constexpr int32_t kTempoLimiteConexaoFTP = 3500;
constexpr int kRespostaArquivoIndisponivel = 550;
constexpr int kRespostaServicoIndisponivel = 421;
constexpr int kRespostaNaoLogado = 530;

// The parts of an FTP address after its "ftp:".
struct TEnderecoFTP {
    std::string Host;
    int32_t Porta = 21;
    std::string Arquivo;
    std::string Pasta;  // normalised: "dist/app/" or empty
};

TEnderecoFTP SepareEndereco(const std::string& remoto) {
    TEnderecoFTP r;
    const size_t barra = remoto.find('\\');
    r.Host = rtl::Trim(remoto.substr(0, barra));
    // "host:port" names a server on another port than 21.
    const size_t doisPontos = r.Host.rfind(':');
    int32_t porta = 0;
    if (doisPontos != std::string::npos && rtl::TryStrToInt(r.Host.substr(doisPontos + 1), porta) && porta > 0 &&
        porta <= 65535) {
        r.Porta = porta;
        r.Host.erase(doisPontos);
    }
    const std::string caminho = barra == std::string::npos ? std::string() : rtl::Trim(remoto.substr(barra + 1));
    r.Arquivo = ExtractLastPathElement(caminho);
    r.Pasta = NormalizePastaFTP(ExtractParentPath(caminho));
    return r;
}

// The server's reply as the texts quote it: its lines without the final line end.
std::string TextoServidor(const std::string& resposta) {
    std::string t = resposta;
    while (!t.empty() && (t.back() == '\r' || t.back() == '\n')) t.pop_back();
    return t;
}

// What a failure of the client says, for the "Mensagem traduzida" of the texts: the system's
// text of the reply code, or the client's own words when no reply caused the failure (a
// refused connection, a cut data connection).
std::string Traduzida(const EFTPSError& e, int codigo) {
    return codigo != 0 ? DescrevaErroSistema(codigo) : e.Message();
}

std::string ComClasse(const std::string& texto, const rtl::Exception& e) {
    return texto + "\r\nExceptionClass=" + e.ClassName();
}

void Rastreie(const std::string& arquivoLog, const std::string& mensagem) {
    if (!arquivoLog.empty()) GraveLogDepuracao(arquivoLog, mensagem);
}

// The reply a connection failure refers to. The client raises an unaccepted reply with its
// code; a greeting other than 220 (a 421 of a full server) it raises without one, but keeps
// that greeting as its last reply.
void RespostaDaFalha(const TElSimpleFTPSClient& cliente, const EFTPSError& e, int& codigo, std::string& texto) {
    codigo = e.ErrorCode;
    texto = TextoServidor(e.ReplyText);
    if (codigo != 0 || e.Message() != SFTPSInvalidReply || cliente.LastReply().empty()) return;
    try {
        codigo = FTPReplyCode(cliente.LastReply());
        texto = TextoServidor(cliente.LastReply());
    } catch (const EFTPSError&) {
        codigo = 0;
    }
}

// Receives the remote file into a temporary file beside the local one, which takes the local
// file's name only when the transfer ended with the server's final reply and, when the size
// is known, with that many bytes. Otherwise the temporary file goes and the failure leaves.
void Receba(TElSimpleFTPSClient& cliente, const std::string& nomeRemoto, int64_t tamanho, const std::string& local) {
    const std::string destino = CaminhoLocal(local);
    const std::string temporario = plat::TemporaryNameBeside(destino);
    try {
        {
            rtl::FileStream arquivo(temporario, rtl::FileMode::CreateNew);
            cliente.ReceiveFile(nomeRemoto, &arquivo);
            const int64_t recebidos = arquivo.Size();
            if (tamanho >= 0 && recebidos != tamanho)
                throw EFTPSError(rtl::Format("%s: %d bytes expected, %d received", SFTPSDataTransferError, tamanho,
                                             recebidos));
        }
        plat::RenameFile(temporario, destino, true);
    } catch (...) {
        plat::TryDeleteFile(temporario);
        throw;
    }
}

// One listing of the current folder into a collector hooked for its duration.
void Liste(TElSimpleFTPSClient& cliente, TEventStringList& linhas, bool nomes) {
    linhas.Conecte(cliente);
    try {
        if (nomes)
            cliente.ListNames();
        else
            cliente.ListDirectory();
    } catch (...) {
        linhas.Desconecte(cliente);
        throw;
    }
    linhas.Desconecte(cliente);
}

// The line of the name list that names the file (letter case ignored), or -1.
int ProcureNome(TElSimpleFTPSClient& cliente, const std::string& nome, TEventStringList& linhas) {
    Liste(cliente, linhas, true);
    for (int i = 0; i < linhas.Count(); ++i)
        if (rtl::SameText(linhas[i], nome)) return i;
    return -1;
}

}  // namespace

std::string NormalizePastaFTP(const std::string& pasta) {
    std::string r = rtl::StringReplace(pasta, "\\", "/");
    if (!r.empty() && r.back() != '/') r += '/';
    return r;
}

void TEventStringList::Conecte(TElSimpleFTPSClient& cliente) {
    cliente.OnTextDataLine = [this](rtl::Component*, const std::string& linha) { Add(linha); };
}

void TEventStringList::Desconecte(TElSimpleFTPSClient& cliente) {
    cliente.OnTextDataLine = nullptr;
}

void TFTPHandler::Conecte(TElSimpleFTPSClient& cliente) {
    cliente.OnProgress = [this](rtl::Component*, int64_t, int64_t atual, bool&) { Recebidos = atual; };
}

bool ExisteArquivoFTP(TElSimpleFTPSClient& cliente, const std::string& nome) {
    TEventStringList linhas;
    if (ProcureNome(cliente, nome, linhas) >= 0) return true;
    throw rtl::Exception(Traduza(17, nome) + " FTP: " + cliente.Address());
}

std::string NomeArquivoNoServidorFTP(TElSimpleFTPSClient& cliente, const std::string& nome) {
    TEventStringList linhas;
    const int i = ProcureNome(cliente, nome, linhas);
    if (i < 0) throw rtl::Exception(Traduza(17, nome));
    return linhas[i];
}

int64_t TamanhoArquivoFTP(TElSimpleFTPSClient& cliente, const std::string& nome) {
    TEventStringList linhas;
    Liste(cliente, linhas, false);
    const std::string procurado = ConvertaParaMaiusculas(nome);
    for (int i = 0; i < linhas.Count(); ++i) {
        TSBFTPFileInfo info;
        if (!TElSimpleFTPSClient::ParseListLine(linhas[i], info)) continue;
        if (info.Kind == TSBFTPFileInfo::fkFile && ConvertaParaMaiusculas(info.Name) == procurado) return info.Size;
    }
    return -1;
}

bool TransfiraArquivoFTP(const std::string& Origem, const std::string& Destino, const std::string& Usuario,
                         const std::string& Senha, const std::string& ArquivoLog) {
    // Passive mode: "FTPPASSIVO:" anywhere in either address, replaced there by "ftp:".
    std::string origem = Origem;
    std::string destino = Destino;
    bool passivo = false;
    for (std::string* endereco : {&origem, &destino}) {
        const size_t p = rtl::PosText("FTPPASSIVO:", *endereco);
        if (p == std::string::npos) continue;
        passivo = true;
        endereco->replace(p, 11, "ftp:");
    }

    bool resultado = true;
    bool tamanhoConhecido = false;
    bool recupere = false;
    UltimoErro.clear();

    auto cliente = std::make_unique<TElSimpleFTPSClient>();
    cliente->UseSSL = false;
    cliente->PassiveMode = passivo;
    cliente->TransferTimeout = TempoLimiteTransferencia;
    cliente->SocketTimeout = TempoLimiteTransferencia;
    TFTPHandler tratador;
    tratador.Conecte(*cliente);
    ClienteFTPAtual = cliente.get();
    // Destroyed before the client: the process-wide name never outlives it.
    struct Solte {
        ~Solte() { ClienteFTPAtual = nullptr; }
    } solte;

    const bool download = EhEnderecoFTP(origem);
    const TEnderecoFTP remoto = SepareEndereco((download ? origem : destino).substr(4));
    const std::string& local = download ? destino : origem;
    std::string nomeRemoto = remoto.Arquivo;

    try {
        cliente->SetAddress(remoto.Host);
        cliente->SetPort(remoto.Porta);
        cliente->Username = Usuario;
        cliente->Password = Senha.empty() ? std::string(kSenhaAnonimaFTP) : Senha;

        try {
            cliente->SocketTimeout = kTempoLimiteConexaoFTP;
            cliente->Open();
            cliente->Login();
            cliente->SocketTimeout = TempoLimiteTransferencia;
        } catch (const EFTPSError& e) {
            Rastreie(ArquivoLog, "Erro durante o estabelecimento da conexão FTP: " + e.Message());
            int codigo = 0;
            std::string texto;
            RespostaDaFalha(*cliente, e, codigo, texto);
            std::string mensagem;
            if (codigo == kRespostaServicoIndisponivel)
                mensagem = Traduza(19, remoto.Host, texto);
            else if (codigo == kRespostaNaoLogado)
                mensagem = Traduza(20, remoto.Host, texto);
            else
                mensagem = Traduza(21, remoto.Host, Traduzida(e, codigo), texto);
            UltimoErro = ComClasse(mensagem, e);
            return false;
        } catch (const std::exception& e) {
            Rastreie(ArquivoLog, std::string("Erro durante o estabelecimento da conexão FTP: ") + e.what());
            throw;
        }

        if (!remoto.Pasta.empty()) {
            try {
                cliente->ChangeDirectory("~");
            } catch (const std::exception&) {
                cliente->ChangeDirectory("/");
            }
            try {
                cliente->ChangeDirectory(remoto.Pasta);
            } catch (const EFTPSError& e) {
                resultado = false;
                const std::string texto = TextoServidor(e.ReplyText);
                UltimoErro = ComClasse(e.ErrorCode == kRespostaArquivoIndisponivel ? Traduza(22, remoto.Pasta, texto)
                                                                                    : Traduza(23, remoto.Pasta, texto),
                                       e);
            }
        }

        // After a failed folder change the name list is the wrong folder's: its verdict would
        // only hide why the transfer failed.
        if (download && UltimoErro.empty()) {
            try {
                ExisteArquivoFTP(*cliente, nomeRemoto);
            } catch (const std::exception& e) {
                UltimoErro = e.what();
                throw;
            }
        }
        if (!UltimoErro.empty()) return false;

        if (!GarantaPastaDestino(local)) return false;
        cliente->TransferType = ttBinary;
        try {
            if (download) {
                const int64_t tamanho = TamanhoArquivoFTP(*cliente, nomeRemoto);
                tratador.TamanhoEsperado = tamanho;
                tamanhoConhecido = tamanho != -1;
                Receba(*cliente, nomeRemoto, tamanho, local);
            } else {
                tamanhoConhecido = true;
                try {
                    cliente->DeleteRemoteFile(nomeRemoto);
                } catch (const EFTPSError& e) {
                    // A file that is not there yet is what an upload expects.
                    if (e.ErrorCode != kRespostaArquivoIndisponivel) throw;
                }
                rtl::FileStream arquivo(CaminhoLocal(local), rtl::FileMode::OpenRead);
                cliente->SendFile(arquivo, nomeRemoto);
            }
        } catch (const EFTPSError& e) {
            if (tamanhoConhecido) {
                resultado = false;
                UltimoErro = Traduza(24, nomeRemoto, Traduzida(e, e.ErrorCode), TextoServidor(e.ReplyText));
            } else {
                recupere = true;
            }
        }

        if (recupere) {
            // The long listing did not show the name and the retrieval under it failed: the
            // server may write it in other letters.
            try {
                Rastreie(ArquivoLog, "Antes de fazer tratamento erro 1");
                const std::string noServidor = NomeArquivoNoServidorFTP(*cliente, nomeRemoto);
                const int64_t tamanho = TamanhoArquivoFTP(*cliente, noServidor);
                tratador.TamanhoEsperado = tamanho;
                Receba(*cliente, noServidor, tamanho, local);
                Rastreie(ArquivoLog, "Depois de fazer tratamento erro 1");
            } catch (const std::exception& e) {
                resultado = false;
                UltimoErro = Traduza(25, nomeRemoto, std::string(e.what()));
            }
        }
    } catch (const rtl::EWriteError& e) {
        resultado = false;
        UltimoErro = Traduza(27, nomeRemoto, e.Message());
    } catch (const std::exception& e) {
        resultado = false;
        if (!UltimoErro.empty()) throw;
        UltimoErro = Traduza(15, std::string(e.what()));
    }
    return resultado;
}
