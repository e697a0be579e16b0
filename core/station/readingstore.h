#pragma once
// Many readings written in one transaction the way TSQM::StoreReading
// writes one: the same key, columns, flags and insert-or-update rule, with
// the statements prepared once. The caller commits or rolls back.
#include "core/station/fbdb.h"

class TSQM;

class TReadingStore {
public:
    explicit TReadingStore(fb::Transaction& tr);
    // Inserts the reading, or updates the row of its key (REA_SITE and
    // REA_DATETIME stay); true when it was inserted. "Undefined Site ID"
    // for site 0, as StoreReading; database errors are thrown.
    bool Store(const TSQM& reading);

    // As Store, but a row of the key with another origin than the reading's
    // (a meter reading under an imported one) is left as it is.
    enum class Outcome { Inserted, Updated, Kept };
    Outcome StoreOverOwnOrigin(const TSQM& reading);

private:
    fb::Query count_, update_, insert_, origin_;
};
