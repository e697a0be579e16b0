// The local reading store: one reading between a station object and READINGS.
#include <stdexcept>

#include "core/station/fbdb.h"
#include "core/station/i18n.h"
#include "core/station/myutils.h"
#include "core/station/readingstore.h"
#include "core/station/sqm.h"

namespace {

int CountReadings(fb::Query& q, const std::string& key) {
    q.SetSQL("SELECT COUNT(REA_CODE) AS NUM FROM READINGS WHERE REA_CODE=" + QuotedStr(key));
    q.Open();
    const int n = static_cast<int>(q.FieldByName("NUM").AsInteger());
    q.Close();
    return n;
}

double OrZero(const fb::Field& f) { return f.IsNull() ? 0.0 : f.AsDouble(); }

// The columns of a READINGS row that make a reading.
struct TStoredColumns {
    double sqmValue = 0, temperature = 0, sunH = 0, moonH = 0, moonPh = 0, moonAge = 0, moonIllum = 0, downing = 0,
           twilight = 0, offset = 0, dateTime = 0;
    int32_t state = 0, site = 0;
    bool uploaded = false, syncro = false, modified = false;
    std::string origin;
};

TStoredColumns ReadStoredColumns(fb::Query& q) {
    TStoredColumns c;
    c.sqmValue = q.FieldByName("REA_SQMVALUE").AsDouble();
    c.temperature = q.FieldByName("REA_SQMTEMP").AsDouble();
    c.sunH = q.FieldByName("REA_SUNH").AsDouble();
    c.moonH = q.FieldByName("REA_MOONH").AsDouble();
    c.moonPh = q.FieldByName("REA_MOONPH").AsDouble();
    c.moonAge = OrZero(q.FieldByName("REA_MOONAGE"));
    c.moonIllum = OrZero(q.FieldByName("REA_MOONILLUM"));
    c.downing = OrZero(q.FieldByName("REA_ASTRO_DOWNING"));
    c.twilight = OrZero(q.FieldByName("REA_ASTRO_TWILIGHT"));
    c.state = static_cast<int32_t>(q.FieldByName("REA_STATE").AsInteger());
    c.offset = q.FieldByName("REA_SQMOFFSET").AsDouble();
    c.uploaded = q.FieldByName("REA_UPLOADED").AsInteger() == 1;
    c.syncro = q.FieldByName("REA_SYNCRO").AsInteger() == 1;
    c.dateTime = q.FieldByName("REA_DATETIME").AsDateTime();
    c.site = static_cast<int32_t>(q.FieldByName("REA_SITE").AsInteger());
    c.modified = q.FieldByName("REA_MODIFIED").AsInteger() == 1;
    const fb::Field origin = q.FieldByName("REA_ORIGIN");
    if (origin.IsNull()) throw fb::Error("Field REA_ORIGIN is null: no text value");
    c.origin = origin.AsString();
    return c;
}

// The statements of a store; REA_SITE and REA_DATETIME are part of the key
// and only the insert writes them.
const char* const kUpdateSQL =
    "UPDATE READINGS SET \n"
    "REA_SQMVALUE=:SQMVALUE, REA_SQMTEMP=:SQMTEMP, REA_SUNH=:SUNH, REA_MOONH=:MOONH, REA_MOONPH=:MOONPH, "
    "REA_STATE=:STATE, REA_UPLOADED=:UPLOAD, REA_SYNCRO=:SYNCRO, REA_MODIFIED=:MODIFICATO, "
    "REA_SQMOFFSET=:SQMOFFSET, REA_ORIGIN=:ORIGIN\n"
    ", REA_MOONAGE=:MOONAGE, REA_MOONILLUM=:MOONILLUM, REA_ASTRO_DOWNING=:ASTRO_DOWNING, "
    "REA_ASTRO_TWILIGHT=:ASTRO_TWILIGHT\n"
    "WHERE REA_CODE=:CODE";
const char* const kInsertSQL =
    "INSERT INTO READINGS \n"
    "(REA_CODE, REA_SITE, REA_DATETIME, REA_SQMVALUE, REA_SQMTEMP, REA_SUNH, REA_MOONH, REA_MOONPH, "
    "REA_STATE, REA_UPLOADED, REA_SYNCRO, REA_MODIFIED, REA_SQMOFFSET, REA_ORIGIN, REA_MOONAGE, "
    "REA_MOONILLUM, REA_ASTRO_DOWNING, REA_ASTRO_TWILIGHT)\n"
    "VALUES (:CODE, :SITE, :DATETIME, :SQMVALUE, :SQMTEMP, :SUNH, :MOONH, :MOONPH, :STATE, :UPLOAD, "
    ":SYNCRO,:MODIFICATO,:SQMOFFSET, :ORIGIN, :MOONAGE, :MOONILLUM, :ASTRO_DOWNING, :ASTRO_TWILIGHT)";

void BindInsertKey(fb::Query& q, const TSQM& r) {
    q.SetInteger("SITE", r.SiteID);
    q.SetDateTime("DATETIME", r.DateTime);
}

// The parameters both statements have.
void BindReading(fb::Query& q, const TSQM& r, const std::string& key) {
    q.SetString("CODE", key);
    q.SetDouble("SQMVALUE", r.SQMValue);
    q.SetDouble("SQMTEMP", r.Temperature);
    q.SetDouble("SUNH", r.SunH);
    q.SetDouble("MOONH", r.MoonH);
    q.SetDouble("MOONPH", r.MoonPh);
    q.SetDouble("MOONAGE", r.MoonAgeDays);
    q.SetDouble("MOONILLUM", r.MoonIllum);
    q.SetDateTime("ASTRO_DOWNING", r.AstroDowning);
    q.SetDateTime("ASTRO_TWILIGHT", r.AstroTwilight);
    q.SetInteger("STATE", r.State);
    q.SetDouble("SQMOFFSET", r.Offset);
    q.SetString("ORIGIN", std::string(1, r.Origin));
    q.SetInteger("UPLOAD", r.Uploaded ? 1 : 0);
    q.SetInteger("SYNCRO", r.Syncro ? 1 : 0);
    q.SetInteger("MODIFICATO", r.Modified ? 1 : 0);
}

}  // namespace

bool TSQM::StoreReading(fb::Database* Database) {
    if (SiteID == 0) throw std::runtime_error(Tr("Undefined Site ID"));
    if (Database == nullptr) throw std::runtime_error("No local database");
    const bool wasOpen = Database->Connected();
    if (!wasOpen) Database->Open();
    bool result = false;
    {
        fb::Transaction tr(*Database, fb::Isolation::ReadCommitted);
        fb::Query q(tr);
        tr.Start();
        const std::string key = ReadingCode();
        const int num = CountReadings(q, key);
        if (num != 0) {
            q.SetSQL(kUpdateSQL);
        } else {
            q.SetSQL(kInsertSQL);
            BindInsertKey(q, *this);
        }
        BindReading(q, *this, key);
        try {
            q.ExecSQL();
            result = true;
            tr.Commit();
        } catch (...) {
            if (tr.Active()) tr.Rollback();
            throw;  // the connection stays as it is now
        }
    }
    if (!wasOpen) Database->Close();
    return result;
}

TReadingStore::TReadingStore(fb::Transaction& tr) : count_(tr), update_(tr), insert_(tr), origin_(tr) {
    count_.SetSQL("SELECT COUNT(REA_CODE) AS NUM FROM READINGS WHERE REA_CODE=:CODE");
    origin_.SetSQL("SELECT REA_ORIGIN FROM READINGS WHERE REA_CODE=:CODE");
    update_.SetSQL(kUpdateSQL);
    insert_.SetSQL(kInsertSQL);
}

bool TReadingStore::Store(const TSQM& reading) {
    if (reading.SiteID == 0) throw std::runtime_error(Tr("Undefined Site ID"));
    const std::string key = reading.ReadingCode();
    count_.SetString("CODE", key);
    count_.Open();
    const bool exists = count_.FieldByName("NUM").AsInteger() != 0;
    count_.Close();
    fb::Query& q = exists ? update_ : insert_;
    if (!exists) BindInsertKey(q, reading);
    BindReading(q, reading, key);
    q.ExecSQL();
    return !exists;
}

TReadingStore::Outcome TReadingStore::StoreOverOwnOrigin(const TSQM& reading) {
    if (reading.SiteID == 0) throw std::runtime_error(Tr("Undefined Site ID"));
    const std::string key = reading.ReadingCode();
    origin_.SetString("CODE", key);
    origin_.Open();
    const bool exists = !origin_.Eof();
    // A row without a mark is older than the marks: a meter reading.
    const std::string origin = exists && !origin_.Fields(0).IsNull() ? Trim(origin_.Fields(0).AsString()) : "";
    origin_.Close();
    if (exists && origin != std::string(1, reading.Origin)) return Outcome::Kept;
    fb::Query& q = exists ? update_ : insert_;
    if (!exists) BindInsertKey(q, reading);
    BindReading(q, reading, key);
    q.ExecSQL();
    return exists ? Outcome::Updated : Outcome::Inserted;
}

bool TSQM::LoadReading(fb::Database* Database, const std::string& Code) {
    if (Database == nullptr) throw std::runtime_error("No local database");
    const bool wasOpen = Database->Connected();
    if (!wasOpen) Database->Open();
    bool result = false;
    {
        fb::Transaction tr(*Database, fb::Isolation::ReadCommitted);
        fb::Query q(tr);
        tr.Start();
        if (CountReadings(q, Code) != 0) {
            q.SetSQL("SELECT * FROM READINGS WHERE REA_CODE=" + QuotedStr(Code));
            q.Open();
            // Read everything first: a bad column leaves the object as it was.
            TStoredColumns c;
            try {
                c = ReadStoredColumns(q);
            } catch (const fb::Error& e) {
                q.Close();
                throw TUnloadableReading("reading " + Trim(Code) + ": " + e.what());
            }
            q.Close();

            SQMValue = c.sqmValue;
            Temperature = c.temperature;
            SunH = c.sunH;
            MoonH = c.moonH;
            MoonPh = c.moonPh;
            MoonAgeDays = c.moonAge;
            MoonIllum = c.moonIllum;
            AstroDowning = c.downing;
            AstroTwilight = c.twilight;
            State = c.state;
            Offset = c.offset;
            Uploaded = c.uploaded;
            Syncro = c.syncro;
            NELM = ComputeNELM(SQMValue);
            DateTime = c.dateTime;
            SiteID = c.site;
            Modified = c.modified;
            Origin = c.origin.empty() ? ' ' : c.origin[0];
            result = true;
        }
        tr.Commit();
    }
    if (!wasOpen) Database->Close();
    return result;
}
