// Brings a database file made by db/schema.sql up to the current schema,
// so the delivered file is made by the very upgrade that existing files get.
//   kalo-db-upgrade FILE
#include <cstdio>
#include <exception>

#include "core/station/fbdb.h"
#include "core/station/schemaupgrade.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kalo-db-upgrade FILE\n");
        return 2;
    }
    try {
        fb::Database db(argv[1]);
        db.Open();
        UpgradeSchema(db);
        db.Close();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kalo-db-upgrade: %s: %s\n", argv[1], e.what());
        return 1;
    }
    return 0;
}
