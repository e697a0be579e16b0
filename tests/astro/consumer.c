/* A program built against the installed header and library. */
#include <astro.h>
#include <stdio.h>

int main(void)
{
    double lon = -1, lat = -1;
    if (sun(1988, 7, 27, 0, 0, 0.0, &lon, &lat) != 0)
        return 1;
    printf("%.6f %.6f %.6f\n", jday(2000, 1, 1, 12, 0, 0.0), lon, lat);
    return 0;
}
