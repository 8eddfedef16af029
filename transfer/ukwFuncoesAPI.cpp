// transfer/ukwFuncoesAPI.cpp: the workstation's identity over the platform layer.
#include "transfer/ukwFuncoesAPI.h"

#include "platform/Workstation.h"

std::string PegueIPLocal() {
    return plat::WorkstationIPv4();
}

std::string PegueNomeComputador() {
    // A machine without a host name has no name to resolve.
    if (plat::HostName().empty()) return std::string();
    return plat::OfficialHostName();
}

std::string PegueUsuarioLogado() {
    return plat::LoggedOnUser();
}
