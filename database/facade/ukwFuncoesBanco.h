// database/facade/ukwFuncoesBanco.h: the kinds of database server the launcher's facades know
// (TkwTipoBanco) and their text names.
//
// Three of the names, "DB2", "ORACLE" and "SQLSERVER", are the database types that the
// launcher's configuration (keys Protocolo and TipoBanco) names; the local road turns exactly
// those texts into TkwTipoBanco values.
#pragma once

#include <cstdint>

enum TkwTipoBanco : int32_t {
    tbIndefinido = 0,
    tbDB2 = 1,
    tbInformix = 2,
    tbInterbase = 3,
    tbOracle = 4,
    tbSqlServer = 5,
    tbSybase = 6,
    tbPostgreSQL = 7,
    tbFirebird = 8
};

// "INDEFINIDO", "DB2", "INFORMIX", "INTERBASE", "ORACLE", "SQLSERVER", "SYBASE", "POSTGRESQL",
// "FIREBIRD"; "" for a value outside the enumeration.
const char* NomeTipoBanco(TkwTipoBanco tipo);
