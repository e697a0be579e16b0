/*
 * astro: low-precision astronomy for other programs.
 *
 * Angles are in degrees, times of day and sidereal times in hours, dates
 * are universal time (Gregorian calendar from 1582-10-15, Julian before).
 * An observer's longitude counts positive east. Events that do not happen
 * on a date (a body that never rises or sets, a sun that never reaches
 * 18 degrees below the horizon) give NaN. Functions that write through
 * pointers return 0, or -1 without writing anything when a pointer is NULL.
 *
 * Every function is stateless and may be called from any thread.
 */
#ifndef ASTRO_H
#define ASTRO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Trigonometry in degrees. */
double DegSin(double x);
double DegCos(double x);
double DegTan(double x);
double DegArcsin(double x);
double DegArccos(double x);
double DegArctan(double x);
/* Result in [0, 360). */
double DegAtan2(double y, double x);
/* d + m / 60 + s / 3600: a negative angle needs the sign on every part. */
double degdecimal(int32_t d, int32_t m, int32_t s);

/* Julian day; 0.0 for every date before the year -4712. */
double jday(int32_t year, int32_t month, int32_t day,
            int32_t hour, int32_t min, double sec);
/* Julian centuries from J2000.0. */
double jcentury(double jd);
/* Days from J2000.0 (2000-01-01 12:00 UT). */
double day2000(int32_t year, int32_t month, int32_t day,
               int32_t hour, int32_t min, double sec);
double century2000(double day2000);

/* Sidereal time. */
double B_const(int32_t year);
double TU_to_TSG(int32_t year, int32_t month, int32_t day,
                 int32_t hour, int32_t min, double sec);
double TSG_to_TU(int32_t year, int32_t month, int32_t day,
                 int32_t hour, int32_t min, double sec);
double TSG_to_TSL(double TSG, double longitude);
double TSL_to_TSG(double TSL, double longitude);

/* Local sidereal time of rising and setting; dec in degrees, ar in hours. */
double rise_TSL(int32_t year, int32_t month, int32_t day,
                double dec, double ar, double latitude);
double set_TSL(int32_t year, int32_t month, int32_t day,
               double dec, double ar, double latitude);
/* Hours by which rising comes earlier (setting later) for a horizon
   lowered by x degrees. */
double offset_refraction(double dec, double lat, double x);

double obliquity(int32_t year, int32_t month, int32_t day);
/* Writes ra (degrees, [0, 360)) and dec (degrees). */
int32_t ecliptic_to_equatorial(int32_t year, int32_t month, int32_t day,
                               double *ra, double *dec,
                               double longitude_ecl, double latitude_ecl);

/* Ecliptic positions in degrees. */
int32_t sun(int32_t year, int32_t month, int32_t day,
            int32_t hour, int32_t min, double sec,
            double *longitude_ecl, double *latitude_ecl);
int32_t moon(int32_t year, int32_t month, int32_t day,
             int32_t hour, int32_t min, double sec,
             double *long_ecl, double *lat_ecl);
/* Illuminated fraction: 0 new, 1 full. */
double moon_phase(int32_t year, int32_t month, int32_t day,
                  int32_t hour, int32_t min, double sec);

/* Local sidereal time of sunrise and sunset in hours, not reduced to
   [0, 24]. */
double sun_rise(int32_t year, int32_t month, int32_t day,
                double obs_latitude, double obs_longitude);
double sun_set(int32_t year, int32_t month, int32_t day,
               double obs_latitude, double obs_longitude);
/* Universal time in hours of the start (morning) and end (evening) of
   astronomical twilight; may lie below 0 or above 24. */
double morning_twilight(int32_t year, int32_t month, int32_t day,
                        double obs_latitude, double obs_longitude);
double evening_twilight(int32_t year, int32_t month, int32_t day,
                        double obs_latitude, double obs_longitude);

/* Universal time in hours; obs_altitude in metres. */
double moon_rise(int32_t year, int32_t month, int32_t day,
                 double obs_latitude, double obs_longitude,
                 double obs_altitude);
double moon_set(int32_t year, int32_t month, int32_t day,
                double obs_latitude, double obs_longitude,
                double obs_altitude);
double moon_set_iterate(int32_t year, int32_t month, int32_t day,
                        double obs_latitude, double obs_longitude,
                        double obs_altitude);

#ifdef __cplusplus
}
#endif

#endif /* ASTRO_H */
