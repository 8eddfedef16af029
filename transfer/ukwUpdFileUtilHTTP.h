// transfer/ukwUpdFileUtilHTTP.h: the HTTP and HTTPS download of the file copy (the "HTTP:" and
// "HTTPS:" update sites of ukwUpdFileUtil).
//
// BaixeArquivoHTTP asks the site once with HEAD under a short time-out (a server that cannot
// answer that quickly is taken for unreachable), then fetches the file with GET, over
// TElHTTPSClient: HTTP/1.0, the URL's scheme choosing TLS, the configured proxy when UsaProxy
// allows it, credentials only for a named user.
//
// What must stay true:
//   - the destination receives the file whole or is not touched: the body goes to a temporary
//     file beside it, which takes its name only after status 200 and a complete body; any
//     other end removes the temporary file;
//   - HTTPS always checks the server's certificate (the system's trust store) and offers TLS
//     1.0, 1.1 and 1.2 only: a refused certificate fails like a refused connection;
//   - a server that breaks the handshake with an unexpected-message alert gets one more try in
//     the same call, never more.
#pragma once

#include <cstdint>
#include <string>

#include "tls/SecureEngine.h"

class TElHTTPSClient;

// The protocol versions a download offers.
inline constexpr TSBVersions kVersoesDownloadHTTPS = VersionBit(sbTLS1) | VersionBit(sbTLS11) | VersionBit(sbTLS12);

// The user name, trimmed and in lower case, is "convidado", "anonymous", "guest" or empty.
bool EhUsuarioAnonimo(const std::string& usuario);

// Whether a download goes through the configured proxy: a port other than 0, an address,
// and UsaProxy on.
bool UsaProxyHTTP(int32_t portaProxy, const std::string& enderecoProxy);

// The progress of one HTTP download. No display is attached in this system, so it only keeps
// the expected size and the bytes seen.
class THTTPHandler {
public:
    void Conecte(TElHTTPSClient& cliente);
    int64_t TamanhoEsperado = -1;
    int64_t Recebidos = 0;
};

// Downloads the URL to Destino. True when the server answered 200 with the whole body;
// otherwise raises: "Acesso negado ao " + URL for 401, "Erro de HTTP: <status> no download do "
// + URL for any other status, or the client's failure (connection, TLS, a cut body).
bool BaixeArquivoHTTP(const std::string& URL, const std::string& Destino, const std::string& Usuario,
                      const std::string& Senha);
