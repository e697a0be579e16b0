#pragma once
// The night summaries a site keeps: made once from its readings and kept in
// NIGHTSUMMARIES, made again when a reading of the night was written,
// changed or deleted since (the database marks that night, whoever writes:
// the meter, an import, the network page, a deletion), or when the
// estimator changed. A summary is never stale, and a reading never waits
// for one: the marks are only ever inserted.
#include <vector>

#include "core/site/nightquality.h"

namespace fb {
class Database;
class Transaction;
}  // namespace fb

// NSU_METHOD of the summaries this estimator makes; others are made again.
// 2: sliding windows over a clear stretch; 3: a scatter at the threshold is clear.
inline constexpr int kNightMethod = 3;

// The readings of nights from..to (dates), time order, with the values
// corrected by their offset (none stored counts as 0); readings without a
// time or a value are left out.
std::vector<TNightReading> ReadQualityReadings(fb::Transaction& tr, int siteId, double fromNight, double toNight);

// The engine's plan for a summary's fetch of the dark readings: it reads
// them by IDX_READINGS_DARK, or every reading of the nights (no error, only
// a first summary many times slower).
std::string DarkReadingsPlan(fb::Transaction& tr);

// Every night of from..to (dates, both included), in order: the kept
// summary where it is current, else made from the readings and kept.
// Nights before the site's first reading or after its last are no-data
// and are not kept. When another program keeps the same nights at the
// same moment the results are given all the same, and kept by one of them.
std::vector<TNightSummary> NightSummaries(fb::Database& db, int siteId, double fromNight, double toNight);

// A night that has ended: its summary, made and kept now when needed. The
// station calls it once a night is over, beside the night's picture.
TNightSummary SummariseNight(fb::Database& db, int siteId, double night);

// The date of the last night that has ended at `now` (UTC) and has
// readings (0 when none has): the one the station's metrics tell.
double LastEndedNight(fb::Database& db, int siteId, double now);
