// transfer/ukwFuncoesAPI.h: who and where this workstation is, as the launcher logs it at start
// and names it in the update history.
//
// The answers come from the platform layer: the address is the first IPv4 address of an
// interface that is up and not the loopback one (the address other machines see, where the
// host name's own entry often says 127.0.1.1); the name is the host name's official name as
// the resolver gives it; the user is the one this program runs for. None of them fails: what
// cannot be found is empty text.
#pragma once

#include <string>

std::string PegueIPLocal();
std::string PegueNomeComputador();
std::string PegueUsuarioLogado();
