#include "core/station/sqm.h"

#include "core/station/i18n.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "core/station/fbdb.h"
#include "core/astronomy/moon.h"
#include "core/station/myutils.h"
#include "core/station/readingastronomy.h"
#include "core/astronomy/vsop.h"

namespace {

// A site without a timeout waits this long for the connection.
constexpr int kDefaultConnectTimeoutMs = 5000;

// Locale-independent conversions: the meter always writes "." as decimal point.
bool ToDouble(const std::string& text, double& out) {
    return ParseDotDecimal(text, out);
}

bool ToInt32(const std::string& text, int32_t& out) {
    std::string s = Trim(text);
    if (!s.empty() && s[0] == '+') s.erase(0, 1);
    if (s.empty()) return false;
    int32_t v = 0;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), v, 10);
    if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return false;
    out = v;
    return true;
}

std::string DropLast(const std::string& s, size_t n) { return s.size() >= n ? s.substr(0, s.size() - n) : std::string(); }

// The message of the exception being handled.
std::string CurrentExceptionText() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown error";
    }
}

// The reply's fields between its commas, the blanks at their ends trimmed
// as the split does. A blank or a control byte inside a field ("02 7.0C")
// stays in it, so that the field fails as one that is not one number
// instead of splitting into two numbers of which the first would be taken.
// A meter never quotes; a line with a quote keeps SplitDelimited's rules.
std::vector<std::string> ReplyFields(const std::string& line) {
    std::vector<std::string> fields;
    if (line.find('"') != std::string::npos) {
        SplitDelimited(',', line, &fields);
        return fields;
    }
    const auto blank = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 1 && u <= 32;
    };
    size_t at = 0;
    for (;;) {
        const size_t comma = line.find(',', at);
        size_t from = at, to = comma == std::string::npos ? line.size() : comma;
        while (from < to && blank(line[from])) ++from;
        while (to > from && blank(line[to - 1])) --to;
        fields.push_back(line.substr(from, to - from));
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    // A line of blanks alone holds no field, as with the split.
    if (fields.size() == 1 && fields[0].empty()) fields.clear();
    return fields;
}

// A bound of the meter's ranges, all whole numbers.
std::string WholeNumber(double v) { return std::to_string(static_cast<long long>(v)); }

// Round to the given number of decimals, halves to the even neighbour.
double RoundTo(double v, long double scale) {
    return static_cast<double>(std::nearbyint(static_cast<long double>(v) * scale) / scale);
}

}  // namespace

std::string TMeterRange::Text() const { return Filled(Tr("%1 to %2"), {WholeNumber(Min), WholeNumber(Max)}) + Unit; }

bool ParseReadingReply(const std::string& line, SqmReadingReply& out, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    const std::vector<std::string> items = ReplyFields(line);
    if (items.empty() || items[0] != "r") return fail(Tr("Not a reading reply"));
    if (items.size() < 6) return fail(Tr("Reading reply with too few items"));
    SqmReadingReply r;
    double value = 0;
    if (!ToDouble(DropLast(items[1], 1), value)) return fail(Filled(Tr("Invalid sky brightness '%1'"), {Printable(items[1])}));
    r.SQMValue = RoundTo(value, 100);
    if (!ToInt32(DropLast(items[2], 2), r.Frequency)) return fail(Filled(Tr("Invalid frequency '%1'"), {Printable(items[2])}));
    if (!ToInt32(DropLast(items[3], 1), r.Counts)) return fail(Filled(Tr("Invalid period counts '%1'"), {Printable(items[3])}));
    if (!ToDouble(DropLast(items[4], 1), value)) return fail(Filled(Tr("Invalid period '%1'"), {Printable(items[4])}));
    r.Period = RoundTo(value, 1000);
    if (!ToDouble(DropLast(items[5], 1), value)) return fail(Filled(Tr("Invalid temperature '%1'"), {Printable(items[5])}));
    r.Temperature = RoundTo(value, 10);
    // The values as they would be stored, against what a meter can report.
    const struct {
        const TMeterRange& range;
        double value;
        const std::string& item;
    } ranges[] = {
        {kSkyBrightnessRange, r.SQMValue, items[1]}, {kFrequencyRange, static_cast<double>(r.Frequency), items[2]},
        {kCountsRange, static_cast<double>(r.Counts), items[3]}, {kPeriodRange, r.Period, items[4]},
        {kTemperatureRange, r.Temperature, items[5]},
    };
    for (const auto& c : ranges)
        if (!c.range.Contains(c.value))
            return fail(Filled(Tr("%1 '%2' out of range (%3)"), {Tr(c.range.What), Printable(c.item), c.range.Text()}));
    out = r;
    return true;
}

bool ParseInfoReply(const std::string& line, SqmInfoReply& out) {
    std::vector<std::string> items;
    SplitDelimited(',', line, &items);
    if (items.empty() || items[0] != "i") return false;
    if (items.size() < 5) throw std::invalid_argument(Filled(Tr("Identity reply with too few items: %1"), {Printable(line)}));
    SqmInfoReply r;
    int32_t* targets[] = {&r.Protocol, &r.Model, &r.Feature, &r.Serial};
    for (int i = 0; i < 4; ++i) {
        if (!ToInt32(items[i + 1], *targets[i]))
            throw std::invalid_argument(Filled(Tr("'%1' is not a valid integer value"), {Printable(items[i + 1])}));
    }
    out = r;
    return true;
}

TSQM::TSQM(const TSQMOptions& o) {
    Client = std::make_unique<TcpClient>();
    Client->Port = o.Port;
    Client->Host = o.Host;
    // A zero timeout would mean waiting for ever on a silent meter; a day is
    // more than anyone sets and keeps the milliseconds in range.
    const int seconds = std::min(o.TimeoutSeconds, 86400);
    Client->ReadTimeoutMs = (seconds > 0 ? seconds : 10) * 1000;
    // The site's timeout bounds the connection too: a meter whose address
    // drops the attempt costs no more than one that never answers.
    connectTimeoutMs_ = seconds > 0 ? seconds * 1000 : kDefaultConnectTimeoutMs;
    Syncro = false;
    SiteID = o.SiteId;
    if (o.DoReading || o.DoInfo) Client->Connect(connectTimeoutMs_);
    if (o.DoReading) UpdateReading(o.Database, o.TimeOffset);
    if (o.DoInfo) UpdateInfo();
    if (Client->Connected()) Client->Disconnect();
    Offset = o.Offset;
    Uploaded = false;
    Modified = false;
}

TSQM::~TSQM() {
    if (Client && Client->Connected()) Client->Disconnect();
}

double TSQM::ComputeNELM(double SkyBrightness) {
    const long double s = SkyBrightness;
    return static_cast<double>(7.93L - 5.0L * std::log10(std::pow(10.0L, 4.316L - s / 5.0L) + 1.0L));
}

std::string TSQM::ReadingCode() const { return FormatKeyTime(DateTime) + std::to_string(SiteID); }

std::string TSQM::Exchange(const char* command) {
    bool madeConnection = !Client->Connected();
    try {
        if (madeConnection)
            Client->Connect(connectTimeoutMs_);
        else
            Client->DiscardPending();  // a late reply to an earlier request is not ours
        if (!Client->Connected()) {  // the peer had gone meanwhile
            madeConnection = true;
            Client->Connect(connectTimeoutMs_);
        }
    } catch (const std::exception& e) {
        lastFailure_ = FailurePrefix() + Filled(Tr("cannot connect: %1"), {e.what()});
        throw;
    }
    std::string line;
    try {
        Client->Write(std::string(command) + "\r\n");
        line = Client->ReadLn();
    } catch (const std::exception& e) {
        lastFailure_ = FailurePrefix() + Filled(Tr("connection lost: %1"), {e.what()});
        throw;
    }
    // A connection that was already open (as during construction) stays open.
    if (madeConnection) Client->Disconnect();
    return line;
}

bool TSQM::UpdateReading(fb::Database* Database, double TimeOffset) {
    return UpdateReadingAt(Database, [TimeOffset] { return NowLocal() + TimeOffset; });
}

bool TSQM::UpdateReadingAt(fb::Database* Database, const std::function<double()>& UtcNow) {
    lastFailure_.clear();
    // Site position first, before the meter is contacted; database errors reach the caller.
    double latitude = 0, longitude = 0;
    try {
        ReadSitePosition(Database, latitude, longitude);
    } catch (const std::exception& e) {
        lastFailure_ = Filled(Tr("Cannot read the site position: %1"), {e.what()});
        throw;
    }
    TAnswer answer = AskReading();
    if (answer.Ok) {
        try {
            TakeReading(answer.Reading, latitude, longitude, UtcNow());
        } catch (...) {
            lastFailure_ = CurrentExceptionText();
            answer = TAnswer{false, true, {}};
        }
    }
    if (!answer.Ok && answer.Ring && Beep) Beep();
    return answer.Ok;
}

TSQM::TAnswer TSQM::AskReading() {
    lastFailure_.clear();
    TAnswer answer;
    try {
        const std::string line = Exchange("rx");
        if (line.empty()) {
            lastFailure_ = NoReplyFailure();
            return answer;
        }
        std::string why;
        if (!ParseReadingReply(line, answer.Reading, &why)) {
            lastFailure_ = MalformedReplyFailure(line, why);
            throw std::runtime_error(why);
        }
        answer.Ok = true;
    } catch (...) {
        if (lastFailure_.empty()) lastFailure_ = CurrentExceptionText();
        answer.Ring = true;
        // Start the next exchange on a clean connection.
        Client->Disconnect();
    }
    return answer;
}

void TSQM::TakeReading(const SqmReadingReply& reply, double latitude, double longitude, double utc) {
    const ReadingCompletion done = CompleteReading(SiteID > 0, latitude, longitude, utc, AstroTwilight, AstroDowning);
    // Only a complete reading reaches the fields.
    SQMValue = reply.SQMValue;
    Frequency = reply.Frequency;
    Counts = reply.Counts;
    Period = reply.Period;
    Temperature = reply.Temperature;
    DateTime = done.DateTime;
    Uploaded = false;
    Modified = false;
    MoonH = done.MoonH;
    SunH = done.SunH;
    MoonAgeDays = done.MoonAgeDays;
    MoonPh = done.MoonPh;
    MoonIllum = done.MoonIllum;
    AstroTwilight = done.AstroTwilight;
    AstroDowning = done.AstroDowning;
    NELM = ComputeNELM(SQMValue);
    Origin = 'K';
}

bool TSQM::UpdateInfo() {
    std::optional<SqmInfoReply> identity;
    const bool answered = AskInfo(identity);
    if (identity) SetInfo(*identity);
    return answered;
}

bool TSQM::AskInfo(std::optional<SqmInfoReply>& identity) {
    lastFailure_.clear();
    identity.reset();
    try {
        const std::string line = Exchange("ix");
        if (line.empty()) {
            lastFailure_ = NoReplyFailure();
            return false;
        }
        SqmInfoReply reply;
        try {
            if (ParseInfoReply(line, reply)) identity = reply;
        } catch (const std::exception& e) {
            lastFailure_ = MalformedReplyFailure(line, e.what());
            throw;
        }
        return true;
    } catch (...) {
        Client->Disconnect();
        throw;
    }
}

void TSQM::SetInfo(const SqmInfoReply& identity) {
    Protocol = identity.Protocol;
    Model = identity.Model;
    Feature = identity.Feature;
    Serial = identity.Serial;
}

std::unique_ptr<TSQM> TSQM::Copy() const {
    auto c = std::make_unique<TSQM>(TSQMOptions{.Host = Client->Host, .Port = Client->Port, .TimeoutSeconds = 1,
        .Offset = Offset, .SiteId = SiteID});
    c->Client->ReadTimeoutMs = Client->ReadTimeoutMs;
    c->Client->MaxLineLength = Client->MaxLineLength;
    c->connectTimeoutMs_ = connectTimeoutMs_;
    c->Protocol = Protocol;
    c->Model = Model;
    c->Feature = Feature;
    c->Serial = Serial;
    c->SQMValue = SQMValue;
    c->Frequency = Frequency;
    c->Counts = Counts;
    c->Period = Period;
    c->Temperature = Temperature;
    c->DateTime = DateTime;
    c->NELM = NELM;
    c->Syncro = Syncro;
    c->State = State;
    c->Modified = Modified;
    c->Origin = Origin;
    c->MoonH = MoonH;
    c->SunH = SunH;
    c->MoonPh = MoonPh;
    c->MoonAgeDays = MoonAgeDays;
    c->MoonIllum = MoonIllum;
    c->AstroTwilight = AstroTwilight;
    c->AstroDowning = AstroDowning;
    c->Uploaded = Uploaded;
    return c;
}

std::string TSQM::FailurePrefix() const {
    return Filled(Tr("SQM-LE at %1: "), {Client->Host + ":" + std::to_string(Client->Port)});
}

std::string TSQM::NoReplyFailure() const {
    if (!Client->TimedOut()) return FailurePrefix() + Tr("empty reply");
    return FailurePrefix() + Filled(Tr("no answer within %1"), {WaitText(Client->ReadTimeoutMs)});
}

std::string TSQM::MalformedReplyFailure(const std::string& line, const std::string& why) const {
    return FailurePrefix() + Filled(Tr("malformed reply \"%1\": %2"), {Printable(line), why});
}

void TSQM::ReadSitePosition(fb::Database* Database, double& latitude, double& longitude) const {
    latitude = 0;
    longitude = 0;
    if (SiteID <= 0) return;
    if (Database == nullptr) throw std::runtime_error("No local database for the site position");
    if (!Database->Connected()) Database->Open();
    fb::Transaction tr(*Database, fb::Isolation::ReadCommitted);
    tr.Start();
    fb::Query q(tr);
    q.SetSQL("SELECT SIT_LATIT, SIT_LONG FROM SQMSITES WHERE SIT_ID=" + std::to_string(SiteID));
    q.Open();
    if (!q.Eof() && !q.FieldByName("SIT_LATIT").IsNull() && !q.FieldByName("SIT_LONG").IsNull()) {
        latitude = q.FieldByName("SIT_LATIT").AsDouble();
        longitude = q.FieldByName("SIT_LONG").AsDouble();
    }
    q.Close();
    tr.Commit();
}

ReadingCompletion CompleteReading(bool haveSite, double latitude, double longitude, double dateTime,
                                  double previousTwilight, double previousDowning) {
    ReadingCompletion c;
    c.DateTime = dateTime;
    if (!haveSite) {
        c.MoonH = -90;
        c.SunH = -90;
        return c;
    }
    const ReadingBodies b = ComputeReadingBodies(latitude, longitude, dateTime);
    c.MoonH = b.MoonH;
    c.SunH = b.SunH;
    c.MoonAgeDays = b.MoonAgeDays;
    c.MoonPh = b.MoonPh;
    c.MoonIllum = b.MoonIllum;
    // Where the Sun never reaches -18 degrees that day, the last computable
    // twilight stays: the reading itself is good and is stored.
    const ReadingTwilights t = ComputeReadingTwilights(latitude, longitude, dateTime);
    c.AstroTwilight = t.AstroTwilight.value_or(previousTwilight);
    c.AstroDowning = t.AstroDowning.value_or(previousDowning);
    return c;
}
