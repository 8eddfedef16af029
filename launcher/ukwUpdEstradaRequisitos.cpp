// launcher/ukwUpdEstradaRequisitos.cpp: the roads this build carries.
#include "launcher/ukwUpdEstradaRequisitos.h"

#include "launcher/ukwUpdRequisitosBanco.h"
#include "launcher/ukwUpdRequisitosServidor.h"

std::unique_ptr<TkwUpdEstradaRequisitos> CrieEstradaServidor() {
    return std::make_unique<TkwUpdEstradaServidor>();
}

std::unique_ptr<TkwUpdEstradaRequisitos> CrieEstradaBanco() {
    return std::make_unique<TkwUpdEstradaBanco>();
}
