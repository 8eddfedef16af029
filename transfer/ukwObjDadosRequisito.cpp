// transfer/ukwObjDadosRequisito.cpp: the request's property table and its registration.
#include "transfer/ukwObjDadosRequisito.h"

const rtl::ComponentClass& TkwObjDadosRequisito::ClassInfo() {
    using C = TkwObjDadosRequisito;
    static const rtl::ComponentClass info(
        "TkwObjDadosRequisito", &rtl::ComponentClassInfo(), [] { return std::make_unique<C>(); },
        {
            rtl::ComponentProperty<C, rtl::Component>("Database", &C::Database, &C::SetDatabase),
            rtl::StringProperty<C>("Esquema", &C::Esquema, &C::SetEsquema),
            rtl::IntegerProperty<C>("CdSistema", &C::CdSistema, &C::SetCdSistema),
            rtl::IntegerProperty<C>("CdSistemaGenerico", &C::CdSistemaGenerico, &C::SetCdSistemaGenerico),
            rtl::IntegerProperty<C>("CdLocalUpdate", &C::CdLocalUpdate, &C::SetCdLocalUpdate),
            rtl::StringProperty<C>("Endereco", &C::Endereco, &C::SetEndereco),
            rtl::StringProperty<C>("NomeMaquina", &C::NomeMaquina, &C::SetNomeMaquina),
            rtl::StringProperty<C>("UsuarioMaquina", &C::UsuarioMaquina, &C::SetUsuarioMaquina),
            rtl::StringProperty<C>("LocalIP", &C::LocalIP, &C::SetLocalIP),
            rtl::StringProperty<C>("DeVersaoCliente", &C::DeVersaoCliente, &C::SetDeVersaoCliente),
        });
    return info;
}

void TkwObjDadosRequisito::SetDatabase(rtl::Component* database) {
    if (database == database_) return;
    if (database_ != nullptr) RemoveFreeNotification(database_);
    database_ = database;
    if (database_ != nullptr) FreeNotification(database_);
}

void TkwObjDadosRequisito::Notification(rtl::Component* component, Operation operation) {
    rtl::Component::Notification(component, operation);
    if (operation == Operation::Remove && component == database_) database_ = nullptr;
}

namespace {

// The unit's start: the class is known by name before any text is read.
[[maybe_unused]] const bool registrada = (rtl::RegisterClass(TkwObjDadosRequisito::ClassInfo()), true);

}  // namespace
