// transfer/ukwUpdFileUtilFTP.h: the FTP transfer of the file copy (the "FTP:" and
// "FTPPASSIVO:" update sites of ukwUpdFileUtil), in either direction.
//
// An FTP address is "FTP:" or "FTPPASSIVO:" (any case), the host, a backslash, and the
// remote path with backslashes between its folders and the file name last:
// FTP:srv\dist\app\kwExec.exe is the file kwExec.exe in the folder dist/app/ of host srv.
// The host may be written "host:port" for a server on another port than 21.
// "FTPPASSIVO:" anywhere in the source or the destination turns passive mode on.
//
// TransfiraArquivoFTP drives one TElSimpleFTPSClient (plain FTP, binary transfers) and turns
// its failures into catalogue texts in UltimoErro; the texts of the connection and folder
// failures end with CR LF and "ExceptionClass=" + the failure's class name, which the
// executor's self-update reads back.
//
// What must stay true:
//   - a download reaches its destination whole or not at all: the bytes go to a temporary file
//     beside it, which takes the destination's name only after the server's final reply and,
//     when the listing gave a size, exactly that many bytes; any other end removes it;
//   - the client is connected, used and freed within one call; ClienteFTPAtual names it only
//     in between;
//   - an empty password never goes to the server as such: the anonymous address goes instead.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/StringList.h"

class TElSimpleFTPSClient;

// The FTP client of the transfer in progress (none between transfers).
extern TElSimpleFTPSClient* ClienteFTPAtual;

// The password sent for an empty one (RFC 1635: an e-mail address as anonymous password).
inline constexpr const char* kSenhaAnonimaFTP = "kwloader@localhost";

// "dist\app" -> "dist/app/": backslashes become "/", and a folder that is not empty gets a
// closing "/".
std::string NormalizePastaFTP(const std::string& pasta);

// The lines of one listing, collected from the client's text-line event while it is hooked.
class TEventStringList : public rtl::StringList {
public:
    void Conecte(TElSimpleFTPSClient& cliente);
    void Desconecte(TElSimpleFTPSClient& cliente);
};

// The progress of one FTP transfer. No display is attached in this system, so it only keeps
// the expected size and the bytes seen.
class TFTPHandler {
public:
    void Conecte(TElSimpleFTPSClient& cliente);
    int64_t TamanhoEsperado = -1;
    int64_t Recebidos = 0;
};

// True when the name is in the current folder's name list (letter case ignored); otherwise
// raises rtl::Exception with catalogue message 17 for the name, " FTP: " and the host.
bool ExisteArquivoFTP(TElSimpleFTPSClient& cliente, const std::string& nome);
// The size of the file of that name (upper-cased both) in the current folder's long listing;
// -1 when no line of a file gives it.
int64_t TamanhoArquivoFTP(TElSimpleFTPSClient& cliente, const std::string& nome);
// The name as the server writes it in the current folder's name list; raises rtl::Exception
// with catalogue message 17 when it is not there.
std::string NomeArquivoNoServidorFTP(TElSimpleFTPSClient& cliente, const std::string& nome);

// Moves one file between the workstation and an FTP site: a download when Origem is an FTP
// address, an upload to Destino otherwise. True when transferred; false with UltimoErro set;
// some failures leave as exceptions with UltimoErro already set (the attempt loop retries
// them). With a trace file name, the connection failure and the recovery steps go to that
// trace file of the launcher's folder.
bool TransfiraArquivoFTP(const std::string& Origem, const std::string& Destino, const std::string& Usuario,
                         const std::string& Senha, const std::string& ArquivoLog = {});
