-- Test copy of the network database ("Noctila"): the two tables the stations
-- use, with the columns they read and write. The real server is run by the
-- network's operators and may hold more.
-- Statements are separated by a semicolon at the end of a line.

CREATE TABLE SQMSITES (
  SIT_ID    INT NOT NULL AUTO_INCREMENT,
  SIT_CODE  VARCHAR(10) NOT NULL,
  PRIMARY KEY (SIT_ID),
  UNIQUE KEY UQ_SQMSITES_CODE (SIT_CODE)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;

-- REA_KALOCODE: the station's local key followed by the site code; binary
-- collation so that two keys differing only in case stay two readings.
CREATE TABLE READINGS (
  REA_KALOCODE       VARCHAR(25) NOT NULL,
  REA_SITE           INT NOT NULL,
  REA_DATETIME       DATETIME NOT NULL,
  REA_SQMVALUE       DOUBLE,
  REA_SQMOFFSET      DOUBLE,
  REA_SQMTEMP        DOUBLE,
  REA_SUNH           DOUBLE,
  REA_MOONH          DOUBLE,
  REA_MOONAGE        DOUBLE,
  REA_MOONPH         DOUBLE,
  REA_MOONILLUM      DOUBLE,
  REA_ASTRO_DOWNING  TIME,
  REA_ASTRO_TWILIGHT TIME,
  REA_ORIGIN         CHAR(1),
  REA_STATE          INT,
  UNIQUE KEY UQ_READINGS_KALOCODE (REA_KALOCODE),
  KEY IX_READINGS_SITE_TIME (REA_SITE, REA_DATETIME)
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4 COLLATE=utf8mb4_bin;
