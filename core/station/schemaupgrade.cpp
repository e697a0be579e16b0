#include "core/station/schemaupgrade.h"

#include <iterator>
#include <vector>

#include "core/station/fbdb.h"
#include "core/station/lastresort.h"
#include "core/station/myutils.h"

namespace {

struct TStatement {
    const char* What;
    const char* Sql;
};

// The texts are those of db/schema.sql; a test compares an upgraded file's
// metadata with the delivered file's.
constexpr const char* kCountsTable =
    "CREATE TABLE READINGCOUNTS (\n"
    "  RCN_SITE        INTEGER NOT NULL,\n"
    "  RCN_TRANSACTION INTEGER NOT NULL,\n"
    "  RCN_ALL         INTEGER DEFAULT 0 NOT NULL,\n"
    "  RCN_TOTAL       INTEGER DEFAULT 0 NOT NULL,\n"
    "  RCN_NEW         INTEGER DEFAULT 0 NOT NULL,\n"
    "  RCN_MODIFIED    INTEGER DEFAULT 0 NOT NULL\n"
    ")";

// From 1.1 on, each night's summary is kept, and a reading written, changed
// or deleted leaves a mark on its night until the summary is made again.
constexpr const char* kNightSummariesTable =
    "CREATE TABLE NIGHTSUMMARIES (\n"
    "  NSU_SITE      INTEGER NOT NULL,\n"
    "  NSU_NIGHT     INTEGER NOT NULL,\n"
    "  NSU_METHOD    INTEGER NOT NULL,\n"
    "  NSU_READINGS  INTEGER NOT NULL,\n"
    "  NSU_DARK      INTEGER NOT NULL,\n"
    "  NSU_CLEARDARK INTEGER NOT NULL,\n"
    "  NSU_SKY       DOUBLE PRECISION,\n"
    "  NSU_DARKEST   DOUBLE PRECISION,\n"
    "  CONSTRAINT PK_NIGHTSUMMARIES PRIMARY KEY (NSU_SITE, NSU_NIGHT)\n"
    ")";
constexpr const char* kNightMarksTable =
    "CREATE TABLE NIGHTMARKS (\n"
    "  NMK_SITE  INTEGER NOT NULL,\n"
    "  NMK_NIGHT INTEGER NOT NULL\n"
    ")";

// From 1.3 on, each night's count of readings with a value a meter gives,
// kept like the reading counts: a row per transaction, gathered now and then.
// The first of the readings added, and whether any was taken away (then the
// night's first reading is looked up).
constexpr const char* kNightCountsTable =
    "CREATE TABLE NIGHTCOUNTS (\n"
    "  NCN_SITE        INTEGER NOT NULL,\n"
    "  NCN_NIGHT       INTEGER NOT NULL,\n"
    "  NCN_TRANSACTION INTEGER NOT NULL,\n"
    "  NCN_READINGS    INTEGER DEFAULT 0 NOT NULL,\n"
    "  NCN_FIRST       DATE,\n"
    "  NCN_REMOVED     INTEGER DEFAULT 0 NOT NULL\n"
    ")";

struct TTable {
    const char* Name;
    const char* What;
    const char* Sql;
};
const TTable kCounts{"READINGCOUNTS", "Table of the reading counts", kCountsTable};
const TTable kNightSummaries{"NIGHTSUMMARIES", "Table of the night summaries", kNightSummariesTable};
const TTable kNightMarks{"NIGHTMARKS", "Table of the nights to summarise again", kNightMarksTable};
const TTable kNightCounts{"NIGHTCOUNTS", "Table of the readings of each night", kNightCountsTable};

// From 1.0 to 1.1, in one transaction after the table above.
const TStatement kTo11[] = {
    {"Removing the foreign key of the readings", "ALTER TABLE READINGS DROP CONSTRAINT FK_READINGS_SITE"},
    {"Index of the newest readings",
     "CREATE DESCENDING INDEX IDX_READINGS_SITE_TIME_DESC ON READINGS (REA_SITE, REA_DATETIME)"},
    {"Index of the readings to upload", "CREATE INDEX IDX_READINGS_UPLOADED ON READINGS (REA_UPLOADED, REA_SITE, REA_STATE)"},
    {"Index of the modified readings", "CREATE INDEX IDX_READINGS_MODIFIED ON READINGS (REA_MODIFIED, REA_SITE)"},
    {"Index of the reading counts", "CREATE INDEX IDX_READINGCOUNTS_SITE ON READINGCOUNTS (RCN_SITE, RCN_TRANSACTION)"},
    {"Error of a reading without its site", "CREATE EXCEPTION E_READING_SITE 'The site of the reading does not exist'"},
    {"Error of a site number in use",
     "CREATE EXCEPTION E_SITE_HAS_READINGS 'The site has readings: its number cannot change'"},
    {"Procedure that adds to the reading counts",
     R"SQL(CREATE PROCEDURE ADD_READING_COUNTS (SITE INTEGER, D_ALL INTEGER, D_TOTAL INTEGER, D_NEW INTEGER, D_MODIFIED INTEGER)
AS
  DECLARE N_ROWS INTEGER;
  DECLARE S_ALL INTEGER = 0;
  DECLARE S_TOTAL INTEGER = 0;
  DECLARE S_NEW INTEGER = 0;
  DECLARE S_MODIFIED INTEGER = 0;
  DECLARE C_ALL INTEGER;
  DECLARE C_TOTAL INTEGER;
  DECLARE C_NEW INTEGER;
  DECLARE C_MODIFIED INTEGER;
BEGIN
  IF (SITE IS NULL OR (D_ALL = 0 AND D_TOTAL = 0 AND D_NEW = 0 AND D_MODIFIED = 0)) THEN
    EXIT;
  UPDATE READINGCOUNTS SET RCN_ALL = RCN_ALL + :D_ALL, RCN_TOTAL = RCN_TOTAL + :D_TOTAL,
      RCN_NEW = RCN_NEW + :D_NEW, RCN_MODIFIED = RCN_MODIFIED + :D_MODIFIED
    WHERE RCN_SITE = :SITE AND RCN_TRANSACTION = CURRENT_TRANSACTION;
  IF (ROW_COUNT > 0) THEN
    EXIT;
  INSERT INTO READINGCOUNTS (RCN_SITE, RCN_TRANSACTION, RCN_ALL, RCN_TOTAL, RCN_NEW, RCN_MODIFIED)
    VALUES (:SITE, CURRENT_TRANSACTION, :D_ALL, :D_TOTAL, :D_NEW, :D_MODIFIED);
  SELECT COUNT(*) FROM READINGCOUNTS WHERE RCN_SITE = :SITE INTO :N_ROWS;
  IF (N_ROWS > 50) THEN
  BEGIN
    FOR SELECT RCN_ALL, RCN_TOTAL, RCN_NEW, RCN_MODIFIED FROM READINGCOUNTS WHERE RCN_SITE = :SITE
      INTO :C_ALL, :C_TOTAL, :C_NEW, :C_MODIFIED AS CURSOR C
    DO
    BEGIN
      DELETE FROM READINGCOUNTS WHERE CURRENT OF C;
      S_ALL = S_ALL + C_ALL;
      S_TOTAL = S_TOTAL + C_TOTAL;
      S_NEW = S_NEW + C_NEW;
      S_MODIFIED = S_MODIFIED + C_MODIFIED;
    END
    INSERT INTO READINGCOUNTS (RCN_SITE, RCN_TRANSACTION, RCN_ALL, RCN_TOTAL, RCN_NEW, RCN_MODIFIED)
      VALUES (:SITE, CURRENT_TRANSACTION, :S_ALL, :S_TOTAL, :S_NEW, :S_MODIFIED);
    WHEN GDSCODE LOCK_CONFLICT, GDSCODE UPDATE_CONFLICT, GDSCODE DEADLOCK DO
    BEGIN
    END
  END
END)SQL"},
    {"Procedure that deletes the readings of a site",
     R"SQL(CREATE PROCEDURE DELETE_SITE_READINGS (SITE INTEGER, T_FROM DATE, T_TO DATE)
RETURNS (DELETED INTEGER)
AS
  DECLARE R_STATE INTEGER;
  DECLARE R_UPLOADED INTEGER;
  DECLARE R_MODIFIED INTEGER;
  DECLARE R_VALUE DOUBLE PRECISION;
  DECLARE S_TOTAL INTEGER = 0;
  DECLARE S_NEW INTEGER = 0;
  DECLARE S_MODIFIED INTEGER = 0;
  DECLARE DUMMY INTEGER;
BEGIN
  DELETED = 0;
  DUMMY = RDB$SET_CONTEXT('USER_TRANSACTION', 'KALO_BULK_DELETE', SITE);
  BEGIN
    IF (T_FROM IS NULL AND T_TO IS NULL) THEN
      FOR SELECT REA_STATE, REA_UPLOADED, REA_MODIFIED, REA_SQMVALUE FROM READINGS WHERE REA_SITE = :SITE
        INTO :R_STATE, :R_UPLOADED, :R_MODIFIED, :R_VALUE AS CURSOR R
      DO
      BEGIN
        DELETE FROM READINGS WHERE CURRENT OF R;
        DELETED = DELETED + 1;
        S_TOTAL = S_TOTAL + IIF(R_STATE >= 0, 1, 0);
        S_NEW = S_NEW + IIF(R_STATE >= 0 AND R_UPLOADED = 0 AND R_VALUE > 0, 1, 0);
        S_MODIFIED = S_MODIFIED + IIF(R_STATE >= 0 AND R_MODIFIED = 1 AND R_VALUE > 0, 1, 0);
      END
    ELSE
      FOR SELECT REA_STATE, REA_UPLOADED, REA_MODIFIED, REA_SQMVALUE FROM READINGS
        WHERE REA_SITE = :SITE AND REA_DATETIME BETWEEN :T_FROM AND :T_TO
        INTO :R_STATE, :R_UPLOADED, :R_MODIFIED, :R_VALUE AS CURSOR S
      DO
      BEGIN
        DELETE FROM READINGS WHERE CURRENT OF S;
        DELETED = DELETED + 1;
        S_TOTAL = S_TOTAL + IIF(R_STATE >= 0, 1, 0);
        S_NEW = S_NEW + IIF(R_STATE >= 0 AND R_UPLOADED = 0 AND R_VALUE > 0, 1, 0);
        S_MODIFIED = S_MODIFIED + IIF(R_STATE >= 0 AND R_MODIFIED = 1 AND R_VALUE > 0, 1, 0);
      END
    WHEN ANY DO
    BEGIN
      DUMMY = RDB$SET_CONTEXT('USER_TRANSACTION', 'KALO_BULK_DELETE', NULL);
      EXCEPTION;
    END
  END
  DUMMY = RDB$SET_CONTEXT('USER_TRANSACTION', 'KALO_BULK_DELETE', NULL);
  EXECUTE PROCEDURE ADD_READING_COUNTS (:SITE, -DELETED, -S_TOTAL, -S_NEW, -S_MODIFIED);
  SUSPEND;
END)SQL"},
    {"Trigger: a reading names an existing site",
     R"SQL(CREATE TRIGGER READINGS_SITE FOR READINGS ACTIVE BEFORE INSERT OR UPDATE POSITION 0
AS
BEGIN
  IF (NEW.REA_SITE IS NOT NULL AND (INSERTING OR NEW.REA_SITE IS DISTINCT FROM OLD.REA_SITE)) THEN
    IF (NOT EXISTS (SELECT 1 FROM SQMSITES WHERE SIT_ID = NEW.REA_SITE)) THEN
      EXCEPTION E_READING_SITE 'The site ' || NEW.REA_SITE || ' of reading ' || TRIM(NEW.REA_CODE) || ' does not exist';
END)SQL"},
    {"Trigger: readings keep their counts",
     R"SQL(CREATE TRIGGER READINGS_COUNTS FOR READINGS ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 0
AS
  DECLARE O_TOTAL INTEGER = 0;
  DECLARE O_NEW INTEGER = 0;
  DECLARE O_MODIFIED INTEGER = 0;
  DECLARE N_TOTAL INTEGER = 0;
  DECLARE N_NEW INTEGER = 0;
  DECLARE N_MODIFIED INTEGER = 0;
BEGIN
  IF (NOT INSERTING) THEN
  BEGIN
    /* DELETE_SITE_READINGS counts what it deletes itself. */
    IF (DELETING AND RDB$GET_CONTEXT('USER_TRANSACTION', 'KALO_BULK_DELETE') IS NOT DISTINCT FROM CAST(OLD.REA_SITE AS VARCHAR(11))) THEN
      EXIT;
    IF (OLD.REA_STATE >= 0) THEN
    BEGIN
      O_TOTAL = 1;
      O_NEW = IIF(OLD.REA_UPLOADED = 0 AND OLD.REA_SQMVALUE > 0, 1, 0);
      O_MODIFIED = IIF(OLD.REA_MODIFIED = 1 AND OLD.REA_SQMVALUE > 0, 1, 0);
    END
  END
  IF (NOT DELETING) THEN
  BEGIN
    IF (NEW.REA_STATE >= 0) THEN
    BEGIN
      N_TOTAL = 1;
      N_NEW = IIF(NEW.REA_UPLOADED = 0 AND NEW.REA_SQMVALUE > 0, 1, 0);
      N_MODIFIED = IIF(NEW.REA_MODIFIED = 1 AND NEW.REA_SQMVALUE > 0, 1, 0);
    END
  END
  IF (UPDATING AND NEW.REA_SITE IS NOT DISTINCT FROM OLD.REA_SITE) THEN
    EXECUTE PROCEDURE ADD_READING_COUNTS (NEW.REA_SITE, 0, N_TOTAL - O_TOTAL, N_NEW - O_NEW, N_MODIFIED - O_MODIFIED);
  ELSE
  BEGIN
    IF (NOT INSERTING) THEN
      EXECUTE PROCEDURE ADD_READING_COUNTS (OLD.REA_SITE, -1, -O_TOTAL, -O_NEW, -O_MODIFIED);
    IF (NOT DELETING) THEN
      EXECUTE PROCEDURE ADD_READING_COUNTS (NEW.REA_SITE, 1, N_TOTAL, N_NEW, N_MODIFIED);
  END
END)SQL"},
    {"Trigger: a site goes with its readings",
     R"SQL(CREATE TRIGGER SQMSITES_READINGS FOR SQMSITES ACTIVE AFTER UPDATE OR DELETE POSITION 0
AS
  DECLARE N INTEGER;
BEGIN
  IF (DELETING) THEN
  BEGIN
    SELECT DELETED FROM DELETE_SITE_READINGS (OLD.SIT_ID, NULL, NULL) INTO :N;
    /* Its counts add up to nothing now; rows a store elsewhere holds stay. */
    BEGIN
      DELETE FROM READINGCOUNTS WHERE RCN_SITE = OLD.SIT_ID;
      WHEN GDSCODE LOCK_CONFLICT, GDSCODE UPDATE_CONFLICT, GDSCODE DEADLOCK DO
      BEGIN
      END
    END
  END
  ELSE IF (NEW.SIT_ID IS DISTINCT FROM OLD.SIT_ID) THEN
    IF (EXISTS (SELECT 1 FROM READINGS WHERE REA_SITE = OLD.SIT_ID)) THEN
      EXCEPTION E_SITE_HAS_READINGS 'Site ' || OLD.SIT_ID || ' has readings: its number cannot change';
END)SQL"},
    // The counts start from the readings there are; the triggers above act
    // only from the commit on, and nobody else has the file meanwhile.
    {"Counting the readings of every site",
     "INSERT INTO READINGCOUNTS (RCN_SITE, RCN_TRANSACTION, RCN_ALL, RCN_TOTAL, RCN_NEW, RCN_MODIFIED)\n"
     "SELECT REA_SITE, CURRENT_TRANSACTION, COUNT(*),\n"
     "  SUM(IIF(REA_STATE >= 0, 1, 0)),\n"
     "  SUM(IIF(REA_STATE >= 0 AND REA_UPLOADED = 0 AND REA_SQMVALUE > 0, 1, 0)),\n"
     "  SUM(IIF(REA_STATE >= 0 AND REA_MODIFIED = 1 AND REA_SQMVALUE > 0, 1, 0))\n"
     "FROM READINGS WHERE REA_SITE IS NOT NULL GROUP BY REA_SITE"},
    {"Version 1.1", "UPDATE SETTINGS SET SET_DBVERSION = '1.1' WHERE SET_ID = 1"},
};

// From 1.1 to 1.2, in one transaction after the night tables. Marks are
// only ever inserted, so a reading never waits on a summary being made;
// one transaction marks a night once while it writes that night in a row.
const TStatement kTo12[] = {
    {"Index of the nights to summarise again", "CREATE INDEX IDX_NIGHTMARKS_SITE ON NIGHTMARKS (NMK_SITE, NMK_NIGHT)"},
    {"Procedure that marks the night of a reading",
     R"SQL(CREATE PROCEDURE MARK_READING_NIGHT (SITE INTEGER, T DATE)
AS
  DECLARE DAYS DOUBLE PRECISION;
  DECLARE NIGHT INTEGER;
  DECLARE N INTEGER;
  DECLARE KEY VARCHAR(30);
  DECLARE DUMMY INTEGER;
BEGIN
  IF (SITE IS NULL OR T IS NULL) THEN
    EXIT;
  /* A night runs from noon to the next noon, both included: a reading at
     noon belongs to the night before as well. */
  DAYS = (T - CAST('30.12.1899' AS DATE)) - 0.5;
  NIGHT = FLOOR(DAYS);
  N = NIGHT;
  WHILE (N >= NIGHT - 1) DO
  BEGIN
    IF (N = NIGHT OR DAYS = NIGHT) THEN
    BEGIN
      KEY = SITE || ':' || N;
      IF (RDB$GET_CONTEXT('USER_TRANSACTION', 'KALO_NIGHT_MARK') IS DISTINCT FROM KEY) THEN
      BEGIN
        INSERT INTO NIGHTMARKS (NMK_SITE, NMK_NIGHT) VALUES (:SITE, :N);
        DUMMY = RDB$SET_CONTEXT('USER_TRANSACTION', 'KALO_NIGHT_MARK', KEY);
      END
    END
    N = N - 1;
  END
END)SQL"},
    {"Trigger: readings mark their nights",
     R"SQL(CREATE TRIGGER READINGS_NIGHTS FOR READINGS ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 1
AS
BEGIN
  /* An upload or a state changes nothing a summary reads. */
  IF (UPDATING AND NEW.REA_SITE IS NOT DISTINCT FROM OLD.REA_SITE
      AND NEW.REA_DATETIME IS NOT DISTINCT FROM OLD.REA_DATETIME
      AND NEW.REA_SQMVALUE IS NOT DISTINCT FROM OLD.REA_SQMVALUE
      AND NEW.REA_SQMOFFSET IS NOT DISTINCT FROM OLD.REA_SQMOFFSET
      AND NEW.REA_SUNH IS NOT DISTINCT FROM OLD.REA_SUNH
      AND NEW.REA_MOONH IS NOT DISTINCT FROM OLD.REA_MOONH) THEN
    EXIT;
  IF (NOT INSERTING) THEN
    EXECUTE PROCEDURE MARK_READING_NIGHT (OLD.REA_SITE, OLD.REA_DATETIME);
  IF (NOT DELETING) THEN
    EXECUTE PROCEDURE MARK_READING_NIGHT (NEW.REA_SITE, NEW.REA_DATETIME);
END)SQL"},
    {"Trigger: a site goes with its night summaries",
     R"SQL(CREATE TRIGGER SQMSITES_NIGHTS FOR SQMSITES ACTIVE AFTER DELETE POSITION 1
AS
BEGIN
  DELETE FROM NIGHTSUMMARIES WHERE NSU_SITE = OLD.SIT_ID;
  DELETE FROM NIGHTMARKS WHERE NMK_SITE = OLD.SIT_ID;
END)SQL"},
    {"Version 1.2", "UPDATE SETTINGS SET SET_DBVERSION = '1.2' WHERE SET_ID = 1"},
};

// From 1.2 to 1.3, in one transaction after the night counts table. A first
// summary of years of nights then reads neither every reading to count them
// nor every reading to find the dark ones.
const TStatement kTo13[] = {
    {"Index of the readings of each night",
     "CREATE INDEX IDX_NIGHTCOUNTS_SITE ON NIGHTCOUNTS (NCN_SITE, NCN_NIGHT, NCN_TRANSACTION)"},
    // The same expression as the night summaries' query, or the engine ignores
    // it. Keyed by the time, not the site: one night then reads a few keys.
    {"Index of the dark readings",
     "CREATE INDEX IDX_READINGS_DARK ON READINGS COMPUTED BY (IIF(REA_SUNH < -18 AND REA_MOONH < 0, REA_DATETIME, NULL))"},
    {"Procedure that counts the readings of a night",
     R"SQL(CREATE PROCEDURE ADD_NIGHT_READINGS (SITE INTEGER, T DATE, D INTEGER)
AS
  DECLARE DAYS DOUBLE PRECISION;
  DECLARE NIGHT INTEGER;
  DECLARE N INTEGER;
  DECLARE N_ROWS INTEGER;
  DECLARE S_READINGS INTEGER;
  DECLARE S_FIRST DATE;
  DECLARE S_REMOVED INTEGER;
  DECLARE C_READINGS INTEGER;
  DECLARE C_FIRST DATE;
  DECLARE C_REMOVED INTEGER;
BEGIN
  IF (SITE IS NULL OR T IS NULL OR D = 0) THEN
    EXIT;
  /* The nights of MARK_READING_NIGHT: a reading at noon is in two. */
  DAYS = (T - CAST('30.12.1899' AS DATE)) - 0.5;
  NIGHT = FLOOR(DAYS);
  N = NIGHT;
  WHILE (N >= NIGHT - 1) DO
  BEGIN
    IF (N = NIGHT OR DAYS = NIGHT) THEN
    BEGIN
      /* Each transaction adds to a row of its own: writers never wait on each other. */
      UPDATE NIGHTCOUNTS SET NCN_READINGS = NCN_READINGS + :D,
          NCN_FIRST = IIF(:D > 0 AND (NCN_FIRST IS NULL OR :T < NCN_FIRST), :T, NCN_FIRST),
          NCN_REMOVED = IIF(:D < 0, 1, NCN_REMOVED)
        WHERE NCN_SITE = :SITE AND NCN_NIGHT = :N AND NCN_TRANSACTION = CURRENT_TRANSACTION;
      IF (ROW_COUNT = 0) THEN
      BEGIN
        INSERT INTO NIGHTCOUNTS (NCN_SITE, NCN_NIGHT, NCN_TRANSACTION, NCN_READINGS, NCN_FIRST, NCN_REMOVED)
          VALUES (:SITE, :N, CURRENT_TRANSACTION, :D, IIF(:D > 0, :T, NULL), IIF(:D < 0, 1, 0));
        SELECT COUNT(*) FROM NIGHTCOUNTS WHERE NCN_SITE = :SITE AND NCN_NIGHT = :N INTO :N_ROWS;
        /* A meter writes a reading a transaction: gather its rows now and then. */
        IF (N_ROWS > 20) THEN
        BEGIN
          S_READINGS = 0;
          S_FIRST = NULL;
          S_REMOVED = 0;
          FOR SELECT NCN_READINGS, NCN_FIRST, NCN_REMOVED FROM NIGHTCOUNTS WHERE NCN_SITE = :SITE AND NCN_NIGHT = :N
            INTO :C_READINGS, :C_FIRST, :C_REMOVED AS CURSOR C
          DO
          BEGIN
            DELETE FROM NIGHTCOUNTS WHERE CURRENT OF C;
            S_READINGS = S_READINGS + C_READINGS;
            IF (C_FIRST < S_FIRST OR S_FIRST IS NULL) THEN
              S_FIRST = C_FIRST;
            IF (C_REMOVED = 1) THEN
              S_REMOVED = 1;
          END
          INSERT INTO NIGHTCOUNTS (NCN_SITE, NCN_NIGHT, NCN_TRANSACTION, NCN_READINGS, NCN_FIRST, NCN_REMOVED)
            VALUES (:SITE, :N, CURRENT_TRANSACTION, :S_READINGS, :S_FIRST, :S_REMOVED);
          WHEN GDSCODE LOCK_CONFLICT, GDSCODE UPDATE_CONFLICT, GDSCODE DEADLOCK DO
          BEGIN
          END
        END
      END
    END
    N = N - 1;
  END
END)SQL"},
    {"Trigger: readings keep the counts of their nights",
     R"SQL(CREATE TRIGGER READINGS_NIGHTCOUNTS FOR READINGS ACTIVE AFTER INSERT OR UPDATE OR DELETE POSITION 2
AS
  DECLARE O_VALID INTEGER = 0;
  DECLARE N_VALID INTEGER = 0;
BEGIN
  /* Counted: a value a meter gives (above 0, at most 30, with its offset),
     as the night summaries count; huge values are no error. */
  IF (NOT INSERTING) THEN
    IF (OLD.REA_SQMVALUE BETWEEN -1e300 AND 1e300 AND COALESCE(OLD.REA_SQMOFFSET, 0) BETWEEN -1e300 AND 1e300) THEN
      IF (OLD.REA_SQMVALUE + COALESCE(OLD.REA_SQMOFFSET, 0) > 0 AND OLD.REA_SQMVALUE + COALESCE(OLD.REA_SQMOFFSET, 0) <= 30) THEN
        O_VALID = 1;
  IF (NOT DELETING) THEN
    IF (NEW.REA_SQMVALUE BETWEEN -1e300 AND 1e300 AND COALESCE(NEW.REA_SQMOFFSET, 0) BETWEEN -1e300 AND 1e300) THEN
      IF (NEW.REA_SQMVALUE + COALESCE(NEW.REA_SQMOFFSET, 0) > 0 AND NEW.REA_SQMVALUE + COALESCE(NEW.REA_SQMOFFSET, 0) <= 30) THEN
        N_VALID = 1;
  IF (UPDATING AND O_VALID = N_VALID AND NEW.REA_SITE IS NOT DISTINCT FROM OLD.REA_SITE
      AND NEW.REA_DATETIME IS NOT DISTINCT FROM OLD.REA_DATETIME) THEN
    EXIT;
  IF (O_VALID = 1) THEN
    EXECUTE PROCEDURE ADD_NIGHT_READINGS (OLD.REA_SITE, OLD.REA_DATETIME, -1);
  IF (N_VALID = 1) THEN
    EXECUTE PROCEDURE ADD_NIGHT_READINGS (NEW.REA_SITE, NEW.REA_DATETIME, 1);
END)SQL"},
    {"Trigger: a site goes with its night counts",
     R"SQL(CREATE TRIGGER SQMSITES_NIGHTCOUNTS FOR SQMSITES ACTIVE AFTER DELETE POSITION 2
AS
BEGIN
  /* Its readings' deletions brought them to nothing; rows a store elsewhere holds stay. */
  DELETE FROM NIGHTCOUNTS WHERE NCN_SITE = OLD.SIT_ID;
  WHEN GDSCODE LOCK_CONFLICT, GDSCODE UPDATE_CONFLICT, GDSCODE DEADLOCK DO
  BEGIN
  END
END)SQL"},
    // As the trigger counts; it acts only from the commit on.
    {"Counting the readings of every night",
     R"SQL(INSERT INTO NIGHTCOUNTS (NCN_SITE, NCN_NIGHT, NCN_TRANSACTION, NCN_READINGS, NCN_FIRST, NCN_REMOVED)
SELECT REA_SITE, NIGHT, CURRENT_TRANSACTION, COUNT(*), MIN(REA_DATETIME), 0 FROM (
  SELECT REA_SITE, REA_DATETIME, FLOOR(DAYS) AS NIGHT FROM (
    SELECT REA_SITE, REA_DATETIME, (REA_DATETIME - CAST('30.12.1899' AS DATE)) - 0.5 AS DAYS FROM READINGS
    WHERE REA_SITE IS NOT NULL AND REA_DATETIME IS NOT NULL
      AND REA_SQMVALUE BETWEEN -1e300 AND 1e300 AND COALESCE(REA_SQMOFFSET, 0) BETWEEN -1e300 AND 1e300
      AND REA_SQMVALUE + COALESCE(REA_SQMOFFSET, 0) > 0 AND REA_SQMVALUE + COALESCE(REA_SQMOFFSET, 0) <= 30)
  UNION ALL
  SELECT REA_SITE, REA_DATETIME, FLOOR(DAYS) - 1 FROM (
    SELECT REA_SITE, REA_DATETIME, (REA_DATETIME - CAST('30.12.1899' AS DATE)) - 0.5 AS DAYS FROM READINGS
    WHERE REA_SITE IS NOT NULL AND REA_DATETIME IS NOT NULL
      AND REA_SQMVALUE BETWEEN -1e300 AND 1e300 AND COALESCE(REA_SQMOFFSET, 0) BETWEEN -1e300 AND 1e300
      AND REA_SQMVALUE + COALESCE(REA_SQMOFFSET, 0) > 0 AND REA_SQMVALUE + COALESCE(REA_SQMOFFSET, 0) <= 30)
  WHERE DAYS = FLOOR(DAYS)
) GROUP BY REA_SITE, NIGHT)SQL"},
    {"Version 1.3", "UPDATE SETTINGS SET SET_DBVERSION = '1.3' WHERE SET_ID = 1"},
};

// No ":NAME" parsing: PSQL bodies use colons of their own.
void Execute(fb::Transaction& tr, const char* sql) {
    ISC_STATUS_ARRAY status;
    isc_dsql_execute_immediate(status, tr.Db().Handle(), tr.Handle(), 0, sql, 1, nullptr);
    fb::Check(status);
}

bool TableExists(fb::Database& db, const char* name) {
    fb::Transaction tr(db);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = :NAME");
    q.SetString("NAME", name);
    q.Open();
    const bool exists = q.Fields(0).AsInteger() > 0;
    q.Close();
    tr.Commit();
    return exists;
}

void DropTable(fb::Database& db, const char* name) {
    fb::Transaction tr(db);
    tr.Start();
    Execute(tr, (std::string("DROP TABLE ") + name).c_str());
    tr.Commit();
}

}  // namespace

std::string DatabaseSchemaVersion(fb::Database& db) {
    fb::Transaction tr(db);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL("SELECT SET_DBVERSION FROM SETTINGS WHERE SET_ID = 1");
    q.Open();
    const std::string version = q.Eof() || q.Fields(0).IsNull() ? std::string() : Trim(q.Fields(0).AsString());
    q.Close();
    tr.Commit();
    return version;
}

std::string UpgradeSchema(fb::Database& db, const TUpgradeProgress& progress) {
    std::string from;
    try {
        from = DatabaseSchemaVersion(db);
    } catch (const std::exception& e) {
        throw TUpgradeError("", kSchemaVersion, e.what());
    }
    if (from == kSchemaVersion) return from;
    std::vector<const TTable*> tables;
    std::vector<const TStatement*> statements;
    if (from == "1.0") {
        tables.push_back(&kCounts);
        for (const TStatement& s : kTo11) statements.push_back(&s);
    } else if (from != "1.1" && from != "1.2") {
        throw TUpgradeError(from, kSchemaVersion,
                            "Version \"" + from + "\" is not one this program can bring to " + kSchemaVersion);
    }
    if (from != "1.2") {
        tables.push_back(&kNightSummaries);
        tables.push_back(&kNightMarks);
        for (const TStatement& s : kTo12) statements.push_back(&s);
    }
    tables.push_back(&kNightCounts);
    for (const TStatement& s : kTo13) statements.push_back(&s);

    const int total = static_cast<int>(tables.size() + statements.size()) + 1;
    int done = 0;
    auto step = [&](const char* what) {
        if (progress) progress({done, total, what});
        ++done;
    };
    // A table needs a commit of its own before anything can use it. An
    // upgrade cut short before may have left one behind, empty: it goes first.
    std::vector<const TTable*> made;
    try {
        for (const TTable* t : tables) {
            step(t->What);
            if (TableExists(db, t->Name)) DropTable(db, t->Name);
            fb::Transaction tr(db);
            tr.Start();
            Execute(tr, t->Sql);
            tr.Commit();
            made.push_back(t);
        }
        // Firebird's DDL is transactional: everything else commits or none of it.
        fb::Transaction tr(db);
        tr.Start();
        try {
            for (const TStatement* s : statements) {
                step(s->What);
                Execute(tr, s->Sql);
            }
            step("Saving: building the indexes (minutes on millions of readings)");
            tr.Commit();
        } catch (...) {
            if (tr.Active()) {
                try {
                    tr.Rollback();
                } catch (...) {
                    // The failure that stopped the upgrade is the one said.
                    LastResortLine("rolling back the upgrade");
                }
            }
            throw;
        }
    } catch (const std::exception& e) {
        std::string detail = e.what();
        for (auto t = made.rbegin(); t != made.rend(); ++t) {
            try {
                DropTable(db, (*t)->Name);
            } catch (const std::exception& e2) {
                detail += std::string("\n(the empty table ") + (*t)->Name + " stays; the next upgrade replaces it: " +
                          e2.what() + ")";
            }
        }
        throw TUpgradeError(from, kSchemaVersion, detail);
    } catch (...) {
        for (auto t = made.rbegin(); t != made.rend(); ++t) {
            try {
                DropTable(db, (*t)->Name);
            } catch (...) {
                // The failure that stopped the upgrade is the one said.
                LastResortLine(std::string("dropping the upgrade's table ") + (*t)->Name);
            }
        }
        throw TUpgradeError(from, kSchemaVersion, "The upgrade was stopped");
    }
    return from;
}
