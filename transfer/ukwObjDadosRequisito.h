// transfer/ukwObjDadosRequisito.h: the request of the newest requisites call, sent to the
// application server as the text form of this component.
//
// Published properties in declaration order (the order of the text): Database (a reference
// to the application database's component; written as its name), Esquema, CdSistema,
// CdSistemaGenerico, CdLocalUpdate, Endereco, NomeMaquina, UsuarioMaquina, LocalIP,
// DeVersaoCliente. The three codes have no default, so they are always written, also when 0;
// a text is written when it is not empty; the reference when it is set. The launcher sets
// only the codes and Endereco (its interface lines "IP=..|MASK=..", or the server's web
// address); the rest serves the server's side of the contract. The unit registers the class
// when the program starts.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/ClassRegistry.h"
#include "rtl/Component.h"

class TkwObjDadosRequisito : public rtl::Component {
public:
    explicit TkwObjDadosRequisito(rtl::Component* owner = nullptr) : rtl::Component(owner) {}

    static const rtl::ComponentClass& ClassInfo();
    const rtl::ComponentClass& ClassType() const override { return ClassInfo(); }

    // Not owned; cleared when the referenced component is destroyed (free notification).
    rtl::Component* Database() const { return database_; }
    void SetDatabase(rtl::Component* database);
    const std::string& Esquema() const { return esquema_; }
    void SetEsquema(const std::string& v) { esquema_ = v; }
    int32_t CdSistema() const { return cdSistema_; }
    void SetCdSistema(int32_t v) { cdSistema_ = v; }
    int32_t CdSistemaGenerico() const { return cdSistemaGenerico_; }
    void SetCdSistemaGenerico(int32_t v) { cdSistemaGenerico_ = v; }
    int32_t CdLocalUpdate() const { return cdLocalUpdate_; }
    void SetCdLocalUpdate(int32_t v) { cdLocalUpdate_ = v; }
    const std::string& Endereco() const { return endereco_; }
    void SetEndereco(const std::string& v) { endereco_ = v; }
    const std::string& NomeMaquina() const { return nomeMaquina_; }
    void SetNomeMaquina(const std::string& v) { nomeMaquina_ = v; }
    const std::string& UsuarioMaquina() const { return usuarioMaquina_; }
    void SetUsuarioMaquina(const std::string& v) { usuarioMaquina_ = v; }
    const std::string& LocalIP() const { return localIP_; }
    void SetLocalIP(const std::string& v) { localIP_ = v; }
    const std::string& DeVersaoCliente() const { return deVersaoCliente_; }
    void SetDeVersaoCliente(const std::string& v) { deVersaoCliente_ = v; }

protected:
    void Notification(rtl::Component* component, Operation operation) override;

private:
    rtl::Component* database_ = nullptr;
    std::string esquema_;
    int32_t cdSistema_ = 0;
    int32_t cdSistemaGenerico_ = 0;
    int32_t cdLocalUpdate_ = 0;
    std::string endereco_;
    std::string nomeMaquina_;
    std::string usuarioMaquina_;
    std::string localIP_;
    std::string deVersaoCliente_;
};
