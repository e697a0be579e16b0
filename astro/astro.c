/*
 * astro: low-precision sun and moon theory, sidereal time, rise, set and
 * twilight. Stateless; everything in double precision, in the order the
 * formulas are written, so results are the same on every platform.
 */
#include "astro.h"
#include "astro_internal.h"

#include <math.h>
#include <stdint.h>

#define DEG2RAD 0.017453292519943295
#define RAD2DEG 57.29577951308232
#define PI 3.141592653589793

/* J2000.0 as a Julian day. */
#define EPOCH_J2000 2451545.0

/* Horizon lowered by 50' 8.19" for the sun: refraction and semi-diameter. */
#define SUN_HORIZON 0.8356083333333333

/* Each pass of the moonset refinement moves the estimate on by at least
   0.01 h. It settles within a few passes, or drifts for a few dozen towards
   a moon that no longer sets; one still climbing after 10000 passes (100
   hours) is running away and has no answer. */
#define MOON_ITERATE_MAX_PASSES 10000

/* ---- internal helpers --------------------------------------------------- */

/*
 * B + C + D + 1720994.5 + day of the Julian day, or 0 when the date lies
 * before the year -4712 (the caller then returns 0.0).
 */
static int date_base(int32_t year, int32_t month, int32_t day, double *base)
{
    int64_t code = (int64_t)year * 10000 + (int64_t)month * 100 + day;
    if ((double)code <= -47120101.0)
        return 0;

    int64_t y = year, m = month;
    if (m <= 2) {
        y = y - 1;
        m = m + 12;
    }
    int32_t a = round_int((double)y / 100.0);
    int32_t b = 0;
    if (code >= 15821015)
        b = 2 - a + round_int((double)a / 4.0);
    int32_t c = y < 0 ? round_int(365.25 * (double)y - 0.75)
                      : round_int(365.25 * (double)y);
    int32_t d = round_int(30.6001 * (double)(m + 1));

    *base = (double)b + (double)c + (double)d + 1720994.5 + (double)day;
    return 1;
}

/* jday with a real hour, so that hour +- 1 never overflows an integer. */
static double jday_at(int32_t year, int32_t month, int32_t day,
                      double hour, double min, double sec)
{
    double base;
    if (!date_base(year, month, day, &base))
        return 0.0;
    return base + hour / 24.0 + min / 1440.0 + sec / 86400.0;
}

/* Greenwich sidereal time at 0h UT of the date, in [0, 24]. */
static double sidereal_at_0h(int32_t year, int32_t month, int32_t day)
{
    double t = (jday(year, month, day, 0, 0, 0.0) - EPOCH_J2000) / 36525.0;
    return range24h(6.697374558 + 2400.051336 * t + 0.000025862 * (t * t));
}

static double sidereal_to_ut(int32_t year, int32_t month, int32_t day,
                             double hour, double min, double sec)
{
    double t0 = sidereal_at_0h(year, month, day);
    double g = hour + min / 60.0 + sec / 3600.0;
    return range24h(g - t0) * 0.9972695663;
}

/*
 * Universal time of a Greenwich sidereal time g on the date, going through
 * hours, minutes and seconds the way the twilight and moon functions do.
 */
static double split_sidereal_to_ut(int32_t year, int32_t month, int32_t day,
                                   double g)
{
    int32_t hr = round_int(g);
    int32_t mi = round_int((g - hr) * 60.0);
    double se = ((g - hr) - mi / 60.0) * 3600.0;
    return sidereal_to_ut(year, month, day, hr, mi, se);
}

/* Days since 1990 January 0.0 and the sun's longitude for that instant. */
struct sun_terms {
    double d, m, lambda;
};

static struct sun_terms sun_at(double jd)
{
    struct sun_terms s;
    s.d = jd - jday(1990, 1, 0, 0, 0, 0.0);
    double n = range360(360.0 * s.d / 365.242191);
    s.m = n + 279.403303 - 282.768422;
    if (s.m < 0.0)
        s.m += 360.0;
    double e = 6.016679999999999 * DegSin(s.m) / PI;
    s.lambda = range360(n + e + 279.403303);
    return s;
}

static void moon_at(double jd, double *lon, double *lat)
{
    struct sun_terms s = sun_at(jd);
    double d = s.d;
    double l = range360(13.1763966 * d + 318.351648);
    double mm = range360(l - 0.111404 * d - 36.34041);
    double node = range360(318.510107 - 0.0529539 * d);
    double ev = 1.2739 * DegSin(2.0 * (l - s.lambda) - mm);
    double ae = 0.1858 * DegSin(s.m);
    double a3 = 0.37 * DegSin(s.m);
    double mp = mm + ev - ae - a3;
    double ec = 6.2886 * DegSin(mp);
    double a4 = 0.214 * DegSin(2.0 * mp);
    double lp = l + ev + ec - ae + a4;
    double v = 0.6583 * DegSin(2.0 * (lp - s.lambda));
    double lpp = lp + v;
    double np = node - 0.16 * DegSin(s.m);
    double lm = DegAtan2(DegSin(lpp - np) * DegCos(5.145396),
                         DegCos(lpp - np)) + np;
    *lat = DegArcsin(DegSin(lpp - np) * DegSin(5.145396));
    *lon = range360(lm);
}

static void to_equatorial(int32_t year, int32_t month, int32_t day,
                          double lon, double lat, double *ra, double *dec)
{
    double eps = obliquity(year, month, day);
    *dec = DegArcsin(DegSin(lat) * DegCos(eps) +
                     DegCos(lat) * DegSin(eps) * DegSin(lon));
    *ra = DegAtan2(DegSin(lon) * DegCos(eps) - DegTan(lat) * DegSin(eps),
                   DegCos(lon));
}

/* ---- angles ------------------------------------------------------------ */

double DegSin(double x) { return sin(DEG2RAD * x); }
double DegCos(double x) { return cos(DEG2RAD * x); }
double DegTan(double x) { return tan(DEG2RAD * x); }
double DegArcsin(double x) { return RAD2DEG * asin(x); }
double DegArccos(double x) { return RAD2DEG * acos(x); }
double DegArctan(double x) { return RAD2DEG * atan(x); }

double DegAtan2(double y, double x)
{
    double a = RAD2DEG * atan2(y, x);
    return a < 0.0 ? a + 360.0 : a;
}

double degdecimal(int32_t d, int32_t m, int32_t s)
{
    return d + m / 60.0 + s / 3600.0;
}

/* ---- time -------------------------------------------------------------- */

double jday(int32_t year, int32_t month, int32_t day,
            int32_t hour, int32_t min, double sec)
{
    return jday_at(year, month, day, hour, min, sec);
}

double jcentury(double jd)
{
    return (jd - EPOCH_J2000) / 36525.0;
}

double day2000(int32_t year, int32_t month, int32_t day,
               int32_t hour, int32_t min, double sec)
{
    double base;
    if (!date_base(year, month, day, &base))
        return 0.0;
    /* The epoch goes before the fraction of the day so that no precision
       of the fraction is lost to the size of the Julian day. */
    return (base - EPOCH_J2000) + hour / 24.0 + min / 1440.0 + sec / 86400.0;
}

double century2000(double day2000)
{
    return day2000 / 36525.0;
}

double B_const(int32_t year)
{
    double jd0 = jday(year, 1, 0, 0, 0, 0.0);
    double t = (jd0 - 2415020.0) / 36525.0;
    double r = 6.6460656 + 2400.051262 * t + 0.00002581 * (t * t);
    return 24.0 - (r - 24.0 * ((double)year - 1900.0));
}

double TU_to_TSG(int32_t year, int32_t month, int32_t day,
                 int32_t hour, int32_t min, double sec)
{
    double t0 = sidereal_at_0h(year, month, day);
    double ut = hour + min / 60.0 + sec / 3600.0;
    return range24h(t0 + 1.002737909 * ut);
}

double TSG_to_TU(int32_t year, int32_t month, int32_t day,
                 int32_t hour, int32_t min, double sec)
{
    return sidereal_to_ut(year, month, day, hour, min, sec);
}

double TSG_to_TSL(double TSG, double longitude)
{
    return range24h(TSG + longitude / 15.0);
}

double TSL_to_TSG(double TSL, double longitude)
{
    return range24h(TSL - longitude / 15.0);
}

/* ---- rising and setting on the sphere --------------------------------- */

static double semi_diurnal_arc(double dec, double latitude)
{
    return DegArccos(-DegTan(latitude) * DegTan(dec)) / 15.0;
}

double rise_TSL(int32_t year, int32_t month, int32_t day,
                double dec, double ar, double latitude)
{
    (void)year; (void)month; (void)day;
    return range24h(24.0 + ar - semi_diurnal_arc(dec, latitude));
}

double set_TSL(int32_t year, int32_t month, int32_t day,
               double dec, double ar, double latitude)
{
    (void)year; (void)month; (void)day;
    return range24h(ar + semi_diurnal_arc(dec, latitude));
}

double offset_refraction(double dec, double lat, double x)
{
    double psi = DegArccos(DegSin(lat) / DegCos(dec));
    double y = DegArcsin(DegSin(x) / DegSin(psi));
    return 240.0 * y / DegCos(dec) / 3600.0;
}

/* ---- ecliptic ---------------------------------------------------------- */

double obliquity(int32_t year, int32_t month, int32_t day)
{
    double t = (jday(year, month, day, 0, 0, 0.0) - EPOCH_J2000) / 36525.0;
    /* The bracket is multiplied by T once more than the textbook series:
       this library's obliquity has always drifted with T squared. */
    return 23.452294 -
           t * (46.815 * t + 0.0006 * (t * t) - 0.00181 * (t * t * t)) / 3600.0;
}

int32_t ecliptic_to_equatorial(int32_t year, int32_t month, int32_t day,
                               double *ra, double *dec,
                               double longitude_ecl, double latitude_ecl)
{
    if (!ra || !dec)
        return -1;
    to_equatorial(year, month, day, longitude_ecl, latitude_ecl, ra, dec);
    return 0;
}

/* ---- sun and moon ------------------------------------------------------ */

int32_t sun(int32_t year, int32_t month, int32_t day,
            int32_t hour, int32_t min, double sec,
            double *longitude_ecl, double *latitude_ecl)
{
    if (!longitude_ecl || !latitude_ecl)
        return -1;
    *longitude_ecl = sun_at(jday(year, month, day, hour, min, sec)).lambda;
    *latitude_ecl = 0.0;
    return 0;
}

int32_t moon(int32_t year, int32_t month, int32_t day,
             int32_t hour, int32_t min, double sec,
             double *long_ecl, double *lat_ecl)
{
    if (!long_ecl || !lat_ecl)
        return -1;
    moon_at(jday(year, month, day, hour, min, sec), long_ecl, lat_ecl);
    return 0;
}

double moon_phase(int32_t year, int32_t month, int32_t day,
                  int32_t hour, int32_t min, double sec)
{
    double jd = jday(year, month, day, hour, min, sec);
    double lm, bm;
    moon_at(jd, &lm, &bm);
    return 0.5 * (1.0 - DegCos(lm - sun_at(jd).lambda));
}

/* ---- sunrise, sunset, twilight ---------------------------------------- */

/* Local sidereal time of sunrise (rising != 0) or sunset. */
static double sun_event(int32_t year, int32_t month, int32_t day,
                        double lat, double lon, int rising)
{
    double lambda1 = sun_at(jday(year, month, day, 0, 0, 0.0)).lambda;
    double lambda2 = lambda1 + 0.985647;
    double ra1, dec1, ra2, dec2;
    to_equatorial(year, month, day, lambda1, 0.0, &ra1, &dec1);
    to_equatorial(year, month, day, lambda2, 0.0, &ra2, &dec2);

    double st1, st2;
    if (rising) {
        st1 = rise_TSL(year, month, day, dec1, ra1 / 15.0, lat);
        st2 = rise_TSL(year, month, day, dec2, ra2 / 15.0, lat);
    } else {
        st1 = set_TSL(year, month, day, dec1, ra1 / 15.0, lat);
        st2 = set_TSL(year, month, day, dec2, ra2 / 15.0, lat);
    }
    if (st1 > st2)
        st2 += 24.0;

    double t00 = TU_to_TSG(year, month, day, 0, 0, 0.0);
    double t00p = t00 - (lon / 15.0) * 1.002738;
    if (t00p < 0.0)
        t00p += 24.0;
    if (st1 < t00p) {
        st1 += 24.0;
        st2 += 24.0;
    }
    double t = (24.07 * st1 - t00 * (st2 - st1)) / (24.07 + st1 - st2);
    double dt = offset_refraction((dec1 + dec2) / 2.0, lat, SUN_HORIZON);
    return rising ? t - dt : t + dt;
}

double sun_rise(int32_t year, int32_t month, int32_t day,
                double obs_latitude, double obs_longitude)
{
    return sun_event(year, month, day, obs_latitude, obs_longitude, 1);
}

double sun_set(int32_t year, int32_t month, int32_t day,
               double obs_latitude, double obs_longitude)
{
    return sun_event(year, month, day, obs_latitude, obs_longitude, 0);
}

/* Universal time of the start (morning != 0) or end of astronomical
   twilight: sunrise or sunset moved by the time the sun needs between the
   horizon and 18 degrees below it. */
static double twilight(int32_t year, int32_t month, int32_t day,
                       double lat, double lon, int morning)
{
    double lambda = sun_at(jday(year, month, day, 0, 0, 0.0)).lambda;
    double ra, dec;
    to_equatorial(year, month, day, lambda, 0.0, &ra, &dec);

    double h0 = DegArccos(-DegTan(lat) * DegTan(dec));
    double h18 = DegArccos((DegCos(108.0) - DegSin(lat) * DegSin(dec)) /
                           (DegCos(lat) * DegCos(dec)));
    double length = (h18 - h0) / 15.0 * 0.9973;

    double s = sun_event(year, month, day, lat, lon, morning);
    double u = split_sidereal_to_ut(year, month, day, TSL_to_TSG(s, lon));
    return morning ? u - length : u + length;
}

double morning_twilight(int32_t year, int32_t month, int32_t day,
                        double obs_latitude, double obs_longitude)
{
    return twilight(year, month, day, obs_latitude, obs_longitude, 1);
}

double evening_twilight(int32_t year, int32_t month, int32_t day,
                        double obs_latitude, double obs_longitude)
{
    return twilight(year, month, day, obs_latitude, obs_longitude, 0);
}

/* ---- moonrise and moonset --------------------------------------------- */

/* What a moon event needs besides the two positions it interpolates. */
struct moon_observer {
    double s, c;   /* observer's geocentric terms */
    double rho;    /* moon's distance in units of its mean distance */
    double r;      /* moon's distance in Earth radii */
};

static struct moon_observer moon_observer_at(int32_t year, int32_t month,
                                             int32_t day, double lat,
                                             double height)
{
    struct moon_observer o;
    double u = DegArctan(0.996647 * DegTan(lat));
    double hp = height / 6378140.0;
    o.s = 0.996647 * DegSin(u) + hp * DegSin(lat);
    o.c = DegCos(u) + hp * DegCos(lat);

    /* The distance comes from the 1980 theory, always at noon of the date. */
    double d80 = jday(year, month, day, 12, 0, 0.0) - jday(1980, 1, 0, 0, 0, 0.0);
    double n = range360(360.0 * d80 / 365.2422);
    double m = n + 278.83354 - 282.596403;
    if (m < 0.0)
        m += 360.0;
    double lsun = range360(n + 6.01848 * DegSin(m) / PI + 278.83354);
    double l = range360(13.1763966 * d80 + 64.975464);
    double mm = range360(l - 0.111404 * d80 - 349.383063);
    double ev = 1.2739 * DegSin(2.0 * (l - lsun) - mm);
    double mp = mm + ev - 0.1858 * DegSin(m) - 0.37 * DegSin(m);
    double ec = 6.2886 * DegSin(mp);
    o.rho = 0.99698599 / (1.0 + 0.0549 * DegCos(mp - ec));
    o.r = 60.268322 * o.rho;
    return o;
}

/*
 * Greenwich sidereal times st1, st2 of the event for the moon at jd1 and
 * jd2, corrected for parallax, brought into order against the sidereal
 * time of 0h at the observer. Also gives the mean declination, the sidereal
 * time t00 of 0h and the observer terms the caller needs afterwards.
 */
struct moon_event {
    double st1, st2, t00, dec_mean;
    struct moon_observer obs;
};

static struct moon_event moon_event_at(int32_t year, int32_t month,
                                       int32_t day, double lat, double lon,
                                       double height, double jd1, double jd2,
                                       int rising)
{
    struct moon_event e;
    double l1, b1, l2, b2, a1, d1, a2, d2;
    moon_at(jd1, &l1, &b1);
    to_equatorial(year, month, day, l1, b1, &a1, &d1);
    moon_at(jd2, &l2, &b2);
    to_equatorial(year, month, day, l2, b2, &a2, &d2);
    e.dec_mean = (d1 + d2) / 2.0;

    e.obs = moon_observer_at(year, month, day, lat, height);
    double r = e.obs.r, s = e.obs.s, c = e.obs.c;

    double h = DegArccos(-DegTan(lat) * DegTan(e.dec_mean));
    double dra = DegArctan(c * DegSin(h) /
                           (r * DegCos(e.dec_mean) - c * DegCos(h)));
    double d1p = DegArctan(DegCos(h + dra) * (r * DegSin(d1) - s) /
                           (r * DegCos(d1) * DegCos(h) - c));
    double d2p = DegArctan(DegCos(h + dra) * (r * DegSin(d2) - s) /
                           (r * DegCos(d2) * DegCos(h) - c));
    double a1p = (a1 - dra) / 15.0;
    double a2p = (a2 - dra) / 15.0;

    if (rising) {
        e.st1 = TSL_to_TSG(rise_TSL(year, month, day, d1p, a1p, lat), lon);
        e.st2 = TSL_to_TSG(rise_TSL(year, month, day, d2p, a2p, lat), lon);
    } else {
        e.st1 = TSL_to_TSG(set_TSL(year, month, day, d1p, a1p, lat), lon);
        e.st2 = TSL_to_TSG(set_TSL(year, month, day, d2p, a2p, lat), lon);
    }
    if (e.st1 > e.st2)
        e.st2 += 24.0;

    e.t00 = TU_to_TSG(year, month, day, 0, 0, 0.0);
    double t00p = e.t00 - (lon / 15.0) * 1.002738;
    if (e.st1 < t00p) {
        e.st1 += 24.0;
        e.st2 += 24.0;
    }
    return e;
}

static double moon_horizon(double rho)
{
    return 0.567 + 0.5181 / (2.0 * rho);
}

static double moon_event(int32_t year, int32_t month, int32_t day,
                         double lat, double lon, double height, int rising)
{
    double jd0 = jday(year, month, day, 0, 0, 0.0);
    double jd12 = jday(year, month, day, 12, 0, 0.0);
    struct moon_event e = moon_event_at(year, month, day, lat, lon, height,
                                        jd0, jd12, rising);
    double t = (12.03 * e.st1 - e.t00 * (e.st2 - e.st1)) /
               (12.03 + e.st1 - e.st2);
    double dt = offset_refraction(e.dec_mean, lat, moon_horizon(e.obs.rho));
    t = rising ? t - dt : t + dt;
    return split_sidereal_to_ut(year, month, day, t);
}

double moon_rise(int32_t year, int32_t month, int32_t day,
                 double obs_latitude, double obs_longitude,
                 double obs_altitude)
{
    return moon_event(year, month, day, obs_latitude, obs_longitude,
                      obs_altitude, 1);
}

double moon_set(int32_t year, int32_t month, int32_t day,
                double obs_latitude, double obs_longitude,
                double obs_altitude)
{
    return moon_event(year, month, day, obs_latitude, obs_longitude,
                      obs_altitude, 0);
}

double moon_set_iterate(int32_t year, int32_t month, int32_t day,
                        double obs_latitude, double obs_longitude,
                        double obs_altitude)
{
    double previous = 0.0, estimate = 0.0, change;
    int pass = 0;
    do {
        double jd1, jd2, span;
        if (pass == 0) {
            jd1 = jday(year, month, day, 0, 0, 0.0);
            jd2 = jday(year, month, day, 12, 0, 0.0);
            span = 12.0;
        } else {
            /* Positions an hour either side of the last estimate. */
            int32_t hr = round_int(estimate);
            int32_t mi = round_int((estimate - hr) * 60.0);
            double se = ((estimate - hr) - mi / 60.0) * 3600.0;
            jd1 = jday_at(year, month, day, (double)hr - 1.0, mi, se);
            jd2 = jday_at(year, month, day, (double)hr + 1.0, mi, se);
            span = 2.0;
        }
        if (++pass > MOON_ITERATE_MAX_PASSES)
            return NAN;

        struct moon_event e = moon_event_at(year, month, day, obs_latitude,
                                            obs_longitude, obs_altitude,
                                            jd1, jd2, 0);
        estimate = (1.0025 * span * e.st1 - e.t00 * (e.st2 - e.st1)) /
                       (1.0025 * span + e.st1 - e.st2) +
                   offset_refraction(e.dec_mean, obs_latitude,
                                     moon_horizon(e.obs.rho));
        change = estimate - previous;
        previous = estimate;
    } while (change >= 0.01);

    return split_sidereal_to_ut(year, month, day, estimate);
}
