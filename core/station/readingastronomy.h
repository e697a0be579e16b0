#pragma once
// The astronomy of a reading in its two parts: the Sun and the Moon at the
// reading's instant, and the astronomical night of its UT day, which every
// reading of that day shares (an import computes it once per day).
// CompleteReading (sqm.h) is the two together.
#include <optional>

struct ReadingBodies {
    double MoonH = 0, SunH = 0;  // altitudes, degrees
    double MoonAgeDays = 0, MoonPh = 0, MoonIllum = 0;
};
// Latitude positive north, longitude positive east, dateTime UTC.
ReadingBodies ComputeReadingBodies(double latitude, double longitude, double dateTime);

// Times of day (UT) of the evening and morning astronomical twilight of the
// UT day of dateTime (its time of day does not count); empty where the Sun
// does not reach -18 degrees that day.
struct ReadingTwilights {
    std::optional<double> AstroTwilight, AstroDowning;
};
ReadingTwilights ComputeReadingTwilights(double latitude, double longitude, double dateTime);
