# Part of the install script: the systemd unit with the paths of this install.
# The source names the package's paths (/usr/bin, /usr/share/kalosqm).
string(REGEX REPLACE "/+$" "" prefix "${CMAKE_INSTALL_PREFIX}")
file(READ ${KALO_UNIT_SOURCE} text)
string(REPLACE "/usr/bin/" "${prefix}/${KALO_BINDIR}/" text "${text}")
string(REPLACE "/usr/share/kalosqm/" "${prefix}/${KALO_DATADIR}/kalosqm/" text "${text}")
file(WRITE ${KALO_UNIT_WORK}/kalosqm-station.service "${text}")
file(INSTALL DESTINATION "${prefix}/${KALO_UNITDIR}" TYPE FILE FILES ${KALO_UNIT_WORK}/kalosqm-station.service)
