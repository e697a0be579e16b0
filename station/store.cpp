// The local reading store: one reading between a station object and READINGS.
#include <stdexcept>

#include "fbdb.h"
#include "i18n.h"
#include "myutils.h"
#include "readingstore.h"
#include "sqm.h"

namespace {

int CountReadings(fb::Query& q, const std::string& key) {
    q.SetSQL("SELECT COUNT(REA_CODE) AS NUM FROM READINGS WHERE REA_CODE=" + QuotedStr(key));
    q.Open();
    const int n = static_cast<int>(q.FieldByName("NUM").AsInteger());
    q.Close();
    return n;
}

double OrZero(const fb::Field& f) { return f.IsNull() ? 0.0 : f.AsDouble(); }

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

TReadingStore::TReadingStore(fb::Transaction& tr) : count_(tr), update_(tr), insert_(tr) {
    count_.SetSQL("SELECT COUNT(REA_CODE) AS NUM FROM READINGS WHERE REA_CODE=:CODE");
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
            const double sqmValue = q.FieldByName("REA_SQMVALUE").AsDouble();
            const double temperature = q.FieldByName("REA_SQMTEMP").AsDouble();
            const double sunH = q.FieldByName("REA_SUNH").AsDouble();
            const double moonH = q.FieldByName("REA_MOONH").AsDouble();
            const double moonPh = q.FieldByName("REA_MOONPH").AsDouble();
            const double moonAge = OrZero(q.FieldByName("REA_MOONAGE"));
            const double moonIllum = OrZero(q.FieldByName("REA_MOONILLUM"));
            const double downing = OrZero(q.FieldByName("REA_ASTRO_DOWNING"));
            const double twilight = OrZero(q.FieldByName("REA_ASTRO_TWILIGHT"));
            const auto state = static_cast<int32_t>(q.FieldByName("REA_STATE").AsInteger());
            const double offset = q.FieldByName("REA_SQMOFFSET").AsDouble();
            const bool uploaded = q.FieldByName("REA_UPLOADED").AsInteger() == 1;
            const bool syncro = q.FieldByName("REA_SYNCRO").AsInteger() == 1;
            const double dateTime = q.FieldByName("REA_DATETIME").AsDateTime();
            const auto site = static_cast<int32_t>(q.FieldByName("REA_SITE").AsInteger());
            const bool modified = q.FieldByName("REA_MODIFIED").AsInteger() == 1;
            const fb::Field originField = q.FieldByName("REA_ORIGIN");
            if (originField.IsNull()) throw fb::Error("Field REA_ORIGIN is null: no text value");
            const std::string origin = originField.AsString();
            q.Close();

            SQMValue = sqmValue;
            Temperature = temperature;
            SunH = sunH;
            MoonH = moonH;
            MoonPh = moonPh;
            MoonAgeDays = moonAge;
            MoonIllum = moonIllum;
            AstroDowning = downing;
            AstroTwilight = twilight;
            State = state;
            Offset = offset;
            Uploaded = uploaded;
            Syncro = syncro;
            NELM = ComputeNELM(SQMValue);
            DateTime = dateTime;
            SiteID = site;
            Modified = modified;
            Origin = origin.empty() ? ' ' : origin[0];
            result = true;
        }
        tr.Commit();
    }
    if (!wasOpen) Database->Close();
    return result;
}
