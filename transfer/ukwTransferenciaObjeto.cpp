// transfer/ukwTransferenciaObjeto.cpp: the conversions and the binary property "Data".
#include "transfer/ukwTransferenciaObjeto.h"

#include "rtl/Bytes.h"
#include "rtl/FieldComponents.h"
#include "rtl/FormText.h"
#include "rtl/Text.h"

const rtl::ComponentClass& TkwTransferenciaObjeto::ClassInfo() {
    static const rtl::ComponentClass info(
        "TkwTransferenciaObjeto", &rtl::ComponentClassInfo(), [] { return std::make_unique<TkwTransferenciaObjeto>(); },
        {},
        {{"Data",
          [](const rtl::Component& c) {
              const auto& dados = dynamic_cast<const TkwTransferenciaObjeto&>(c).dados_;
              return dados.has_value() && !dados->empty();
          },
          [](const rtl::Component& c) { return dynamic_cast<const TkwTransferenciaObjeto&>(c).GravarDados(); },
          [](rtl::Component& c, std::string_view conteudo) {
              dynamic_cast<TkwTransferenciaObjeto&>(c).LerDados(conteudo);
          }}});
    return info;
}

namespace {

// The unit's start: the class, and the class library's field classes a transferred text may
// name, are known by name before any text is read.
bool RegistreClasses() {
    for (const rtl::ComponentClass* classe :
         {&TkwTransferenciaObjeto::ClassInfo(), &rtl::TIntegerField::ClassInfo(),
          &rtl::TStringField::ClassInfo(), &rtl::TFloatField::ClassInfo(), &rtl::TDateTimeField::ClassInfo(),
          &rtl::TBCDField::ClassInfo(), &rtl::TCurrencyField::ClassInfo()})
        rtl::RegisterClass(*classe);
    return true;
}
[[maybe_unused]] const bool registrada = RegistreClasses();

}  // namespace

std::string TkwTransferenciaObjeto::GravarDados() const {
    std::string out(4, '\0');
    rtl::store_le32(reinterpret_cast<uint8_t*>(out.data()), uint32_t(dados_->size()));
    out.append(dados_->begin(), dados_->end());
    return out;
}

void TkwTransferenciaObjeto::LerDados(std::string_view conteudo) {
    if (conteudo.empty()) return;
    if (conteudo.size() >= 4 &&
        rtl::load_le32(reinterpret_cast<const uint8_t*>(conteudo.data())) == conteudo.size() - 4)
        conteudo.remove_prefix(4);
    dados_ = rtl::ByteArray(conteudo.begin(), conteudo.end());
}

void TkwTransferenciaObjeto::Valide(bool& valido, std::string& mensagem) {
    if (OnValidar) OnValidar(*this, valido, mensagem);
    if (!valido && !rtl::Trim(mensagem).empty()) throw EMsgDadosInvalidosParaTransferencia(mensagem);
}

std::string TkwTransferenciaObjeto::ParaTexto() {
    bool valido = true;
    std::string mensagem;
    Valide(valido, mensagem);
    return ObjetoParaTexto(*this);
}

std::string TkwTransferenciaObjeto::ObjetoParaTexto(const rtl::Component& objeto) {
    (void)registrada;
    return rtl::ComponentToText(objeto);
}

std::unique_ptr<rtl::Component> TkwTransferenciaObjeto::TextoParaObjeto(std::string_view texto) {
    (void)registrada;
    return rtl::TextToComponent(texto);
}

std::unique_ptr<TkwTransferenciaObjeto> TkwTransferenciaObjeto::DeTexto(std::string_view texto) {
    std::unique_ptr<rtl::Component> objeto = TextoParaObjeto(texto);
    auto* typed = dynamic_cast<TkwTransferenciaObjeto*>(objeto.get());
    if (typed == nullptr) throw rtl::EInvalidCast("Invalid class typecast");
    objeto.release();
    return std::unique_ptr<TkwTransferenciaObjeto>(typed);
}
