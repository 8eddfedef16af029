// database/facade/ukwBDEDatabase.cpp: an alias opened as the ODBC data source of the same name.
#include "database/facade/ukwBDEDatabase.h"

TkwBDEDatabase::TkwBDEDatabase(rtl::Component* owner) : TSDDatabase(owner) {
    SetServerType(stODBC);
}
