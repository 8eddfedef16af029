// transfer/ukwSCONNECTSocket.cpp: the socket transport: blocks over TCP, the cipher hook, the
// dotted-address test.
#include <limits>

#include "rtl/Bytes.h"
#include "rtl/Format.h"
#include "transfer/uSSOCKETCLIENT.h"
#include "transfer/ukwSCONNECT.h"

namespace {

constexpr const char* kErroLeitura = "Erro de leitura no socket";

// The four groups of a dotted address, each below 256 (EhEnderecoIPv4's rule); false when
// the text is not one.
bool GruposIPv4(std::string_view host, uint32_t grupos[4]) {
    const size_t dois = host.find(':');
    std::string texto(host.substr(0, dois));
    texto += '.';
    int contados = 0;
    uint32_t valor = 0;
    int digitos = 0;
    for (const char c : texto) {
        if (c >= '0' && c <= '9') {
            if (valor < 1000) valor = valor * 10 + uint32_t(c - '0');  // stays above 255 once there
            ++digitos;
        } else if (c == '.') {
            if (digitos == 0 || valor >= 256) return false;
            if (contados < 4) grupos[contados] = valor;
            ++contados;
            valor = 0;
            digitos = 0;
        } else {
            return false;
        }
    }
    return contados == 4;
}

}  // namespace

bool EhEnderecoIPv4(std::string_view host) {
    uint32_t grupos[4];
    return GruposIPv4(host, grupos);
}

TSocketTransport::TSocketTransport(const TSSOCKETCLIENT* cifra) : cifra_(cifra) {}

bool TSocketTransport::GetConnected() {
    return soquete_.Connected();
}

void TSocketTransport::SetConnected(bool conectado) {
    if (!conectado) {
        soquete_.Close();
        return;
    }
    if (soquete_.Connected()) return;
    if (endereco_.empty()) throw ESocketConnectionError("No address specified");
    if (porta_ < 0 || porta_ > 65535) throw ESocketConnectionError(rtl::Format("Porta inválida: %d", porta_));
    uint32_t grupos[4];
    if (GruposIPv4(host_, grupos)) {
        // Written again in plain decimal: "010.0.0.7" is ten, as the dotted-address rule reads it.
        soquete_.Connect(rtl::Format("%d.%d.%d.%d", grupos[0], grupos[1], grupos[2], grupos[3]), uint16_t(porta_), true);
    } else {
        soquete_.Connect(host_, uint16_t(porta_), false);
    }
}

void TSocketTransport::Cancelar() {
    soquete_.Cancel();
}

void TSocketTransport::Despertar() {
    soquete_.Wake();
}

void TSocketTransport::TransformarCarga(TDataBlock& bloco, bool cifrar) const {
    const TSSOCKETCLIENT& cifra = cifra_ != nullptr ? *cifra_ : SSOCKETCLIENT();
    if (!cifra.CarregouBiblioteca() || bloco.Size() < 4) return;
    // The payload after its first four bytes (the first value's type code stays plain).
    std::span<uint8_t> carga = bloco.Payload();
    int32_t n = int32_t(carga.size() - 4);
    if (cifrar)
        cifra.Cifrar(carga.data() + 4, n, carga.data() + 4, &n);
    else
        cifra.Decifrar(carga.data() + 4, n, carga.data() + 4, &n);
}

intptr_t TSocketTransport::Enviar(TDataBlock& bloco) {
    // The cipher works on a copy: the caller's block stays as it wrote it.
    TDataBlock copia = bloco;
    TransformarCarga(copia, true);
    const std::span<const uint8_t> m = copia.Memory();
    soquete_.SendAll(m.data(), m.size());
    return 0;
}

void TSocketTransport::LerExato(void* dados, size_t quantidade) {
    auto* p = static_cast<uint8_t*>(dados);
    while (quantidade > 0) {
        const size_t n = soquete_.Receive(p, quantidade);
        if (n == 0) throw ESocketConnectionError(kErroLeitura);
        p += n;
        quantidade -= n;
    }
}

std::unique_ptr<TDataBlock> TSocketTransport::Receber(bool esperar, intptr_t) {
    plat::ClientSocket::WaitResult pronto;
    try {
        pronto = soquete_.WaitReadable(esperar ? -1 : 0);
    } catch (const plat::ESocketError& e) {
        throw ESocketConnectionError(e.Message());
    }
    if (pronto != plat::ClientSocket::WaitResult::Readable) return nullptr;

    uint8_t cabecalho[4];
    LerExato(cabecalho, 4);
    const auto assinatura = int32_t(rtl::load_le32(cabecalho));
    CheckDataBlockSignature(assinatura);
    LerExato(cabecalho, 4);
    const auto tamanho = int32_t(rtl::load_le32(cabecalho));
    // Checked before the buffer is made: a negative or huge size is a broken peer.
    if (tamanho < 0 || tamanho > kTamanhoMaximoCarga) ErroBlocoInvalido();

    auto bloco = std::make_unique<TDataBlock>();
    bloco->SetSignature(assinatura);
    bloco->SetSize(tamanho);
    std::span<uint8_t> carga = bloco->Payload();
    LerExato(carga.data(), carga.size());
    TransformarCarga(*bloco, false);
    return bloco;
}
