// database/facade/ukwFuncoesBanco.cpp: the text names of the database kinds.
#include "database/facade/ukwFuncoesBanco.h"

namespace {

constexpr const char* kNomes[] = {"INDEFINIDO", "DB2",    "INFORMIX",   "INTERBASE", "ORACLE",
                                  "SQLSERVER",  "SYBASE", "POSTGRESQL", "FIREBIRD"};

}  // namespace

const char* NomeTipoBanco(TkwTipoBanco tipo) {
    const int32_t i = int32_t(tipo);
    if (i < 0 || i >= int32_t(sizeof kNomes / sizeof kNomes[0])) return "";
    return kNomes[i];
}
