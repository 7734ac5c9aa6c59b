// The database pointer that designates nothing.

#include "hostdb.h"

extern "C" Dbptr dbinvalid(void)
{
    Dbptr db;
    db.database = dbINVALID;
    db.table = dbINVALID;
    db.field = dbINVALID;
    db.record = dbINVALID;
    return db;
}
