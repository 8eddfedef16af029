// transfer/ukwTransferenciaObjeto.h: turning components into their text form and back, as
// the application server's newest requisites call takes its request.
//
// The text is the component's form text (rtl/FormText.h); the class named in it must be
// registered (rtl/ClassRegistry.h), and this unit registers its own class and the class
// library's field classes (rtl/FieldComponents.h: integer, text, floating-point, date-time,
// numeric and currency fields) when the program starts. TkwTransferenciaObjeto is itself a
// component that can carry a block of bytes (the binary property "Data") and validate itself
// before it becomes text: ParaTexto asks OnValidar, and a False answer with a message that is
// not blank stops the conversion with EMsgDadosInvalidosParaTransferencia (False with a blank
// message lets it go on).
//
// "Data" is written as a 32-bit little-endian element count followed by the bytes. When read,
// a leading count equal to the number of bytes after it is dropped, so that the bytes read
// are the bytes written (a reader that kept it would add four bytes at every round trip);
// content without such a count is taken whole. Empty content leaves Dados as it was.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "rtl/ClassRegistry.h"
#include "rtl/Component.h"
#include "rtl/Exception.h"
#include "rtl/Variant.h"

// A warning meant for the user of the client; its text is shown as it stands.
RTL_EXCEPTION(EMsgAvisoCliente, rtl::Exception);
// Data that its validation refused to transfer.
RTL_EXCEPTION(EMsgDadosInvalidosParaTransferencia, EMsgAvisoCliente);

// The interface of an object that turns itself into text.
class IkwTransferenciaObjeto {
public:
    static constexpr std::string_view IID = "{C06E2C7A-092F-4210-89BE-80F0C19AF9CA}";
    virtual ~IkwTransferenciaObjeto() = default;
    virtual std::string ParaTexto() = 0;
};

class TkwTransferenciaObjeto : public rtl::Component, public IkwTransferenciaObjeto {
public:
    using TEventoValidar = std::function<void(TkwTransferenciaObjeto& sender, bool& valido, std::string& mensagem)>;

    explicit TkwTransferenciaObjeto(rtl::Component* owner = nullptr) : rtl::Component(owner) {}

    static const rtl::ComponentClass& ClassInfo();
    const rtl::ComponentClass& ClassType() const override { return ClassInfo(); }

    // The bytes carried, or none.
    const std::optional<rtl::ByteArray>& Dados() const { return dados_; }
    void SetDados(std::optional<rtl::ByteArray> dados) { dados_ = std::move(dados); }

    TEventoValidar OnValidar;

    // Valido := True, Mensagem := "", Valide, then the text of this object.
    std::string ParaTexto() override;

    // The text of any component.
    static std::string ObjetoParaTexto(const rtl::Component& objeto);
    // A new component of the class the text names; the caller owns it.
    static std::unique_ptr<rtl::Component> TextoParaObjeto(std::string_view texto);
    // As TextoParaObjeto for a text that describes a TkwTransferenciaObjeto (or a descendant);
    // another class raises rtl::EInvalidCast "Invalid class typecast".
    static std::unique_ptr<TkwTransferenciaObjeto> DeTexto(std::string_view texto);

protected:
    // Asks OnValidar; raises EMsgDadosInvalidosParaTransferencia with the message (as given)
    // when it answers False with a message that is not blank.
    virtual void Valide(bool& valido, std::string& mensagem);

private:
    std::string GravarDados() const;
    void LerDados(std::string_view conteudo);

    std::optional<rtl::ByteArray> dados_;
};
