// database/facade/ukwSDDatabase.h: the inner database of the launcher's facade on the SQL access
// library's path (access type atSQLD): the library's database as it stands, under a name of
// the facade's own so that the two paths read alike.
#pragma once

#include "database/engine/SDEngine.h"

class TkwSDDatabase : public TSDDatabase {
public:
    using TSDDatabase::TSDDatabase;
};
