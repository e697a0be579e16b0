// The meter client against the SQM-LE simulator on 127.0.0.1.
#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <vector>
#include <unistd.h>

#include "core/station/myutils.h"
#include "core/station/sqm.h"
#include "tools/sqmle-sim/sqmsim.h"
#include "support/testsupport.h"

namespace {

class MeterTest : public ::testing::Test {
protected:
    void SetUp() override { sim.Start(); }

    // Its owner's bell counts the failed readings.
    std::unique_ptr<TSQM> Station(int timeoutSeconds = 1) {
        auto s = std::make_unique<TSQM>(TSQMOptions{.Host = "127.0.0.1", .Port = sim.Port(),
            .TimeoutSeconds = timeoutSeconds});
        s->Beep = [this] { ++beeps; };
        return s;
    }
    template <class F>
    void Set(F change) {
        SqmSimConfig c = sim.Config();
        change(c);
        sim.SetConfig(c);
    }
    void Reply(const std::string& raw) { Set([&](SqmSimConfig& c) { c.RawReading = raw; }); }
    void Info(const std::string& raw) { Set([&](SqmSimConfig& c) { c.RawInfo = raw; }); }
    // Fills the station with a first good reading to compare against.
    void Prime(TSQM& s) {
        ASSERT_TRUE(s.UpdateReading(nullptr, 0));
        ASSERT_DOUBLE_EQ(s.SQMValue, 19.29);
    }
    static void ExpectUnchanged(const TSQM& s, double when) {
        EXPECT_DOUBLE_EQ(s.SQMValue, 19.29);
        EXPECT_EQ(s.Frequency, 5915);
        EXPECT_DOUBLE_EQ(s.Temperature, 27.0);
        EXPECT_DOUBLE_EQ(s.DateTime, when);
    }
    std::string Meter() const { return "SQM-LE at 127.0.0.1:" + std::to_string(sim.Port()) + ": "; }

    SqmSimulator sim;
    int beeps = 0;
};

TEST_F(MeterTest, ReadingRepliesAreParsedRoundedAndCompletedWithoutASiteWhateverTheLocale) {
    SqmSimConfig c = sim.Config();
    c.Value = 21.004;
    c.Frequency = 123;
    c.Counts = 45;
    c.Period = 1.2345;
    c.Temperature = -3.45;
    sim.SetConfig(c);
    auto s = Station();
    const double before = NowUtc();
    ASSERT_TRUE(s->UpdateReading(nullptr, NowUtc() - NowLocal()));
    EXPECT_DOUBLE_EQ(s->SQMValue, 21.0);
    EXPECT_EQ(s->Frequency, 123);
    EXPECT_EQ(s->Counts, 45);
    EXPECT_DOUBLE_EQ(s->Period, 1.234);  // "0000001.234s" as the meter writes it
    EXPECT_DOUBLE_EQ(s->Temperature, -3.5);  // sent as "-003.5C"
    EXPECT_NEAR(s->DateTime, before, 5.0 / 86400);
    EXPECT_EQ(s->Origin, 'K');
    EXPECT_NEAR(s->NELM, 6.1155, 5e-5);
    EXPECT_NEAR(TSQM::ComputeNELM(18.00), 3.9681, 5e-5);
    // No site: fixed astronomy values.
    EXPECT_EQ(std::make_tuple(s->SunH, s->MoonH, s->MoonAgeDays, s->AstroTwilight), std::make_tuple(-90., -90., 0., 0.));
    EXPECT_FALSE(s->Client->Connected());  // the exchange closes what it opened
    EXPECT_EQ(beeps, 0);

    // Under a comma-decimal locale, which the replies do not follow and which is left as it was.
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "it_IT.UTF-8"), nullptr) << "the it_IT.UTF-8 locale is missing";
    struct Restore {
        std::string locale;
        ~Restore() { std::setlocale(LC_ALL, locale.c_str()); }
    } restore{saved};
    const auto oneAndAHalf = [] {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.1f", 1.5);
        return std::string(buf);
    };
    ASSERT_EQ(oneAndAHalf(), "1,5");
    // Reply, value, counts, period, temperature.
    const struct { const char* reply; double value; int counts; double period, temperature; } replies[] = {
        {"r,   19.31m,  0000005915Hz,\t0000000001c, 0000000.100s,   027.0C", 19.31, 1, 0.1, 27.0},  // blanks after commas
        {"r, 18.125m,0000005915Hz,0000000000c,0000000.000s,-012.3C", 18.12, 0, 0, -12.3},  // 1812.5 to the even neighbour
        {"r, 19.29m,0000005915Hz,0000000000c,0000000.000s, 027.0C,extra", 19.29, 0, 0, 27.0},  // items past the sixth
    };
    for (const auto& r : replies) {
        Reply(r.reply);
        ASSERT_TRUE(s->UpdateReading(nullptr, 0)) << r.reply;
        EXPECT_EQ(std::make_tuple(s->SQMValue, s->Counts, s->Period, s->Temperature),
                  std::make_tuple(r.value, r.counts, r.period, r.temperature)) << r.reply;
    }
    EXPECT_EQ(oneAndAHalf(), "1,5");
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "it_IT.UTF-8");
}

TEST_F(MeterTest, AnythingButACompleteReadingReplyChangesNothingAndLastFailureQuotesItEscaped) {
    auto s = Station();
    Prime(*s);
    const double when = s->DateTime;
    const std::string meter = Meter() + "malformed reply \"";
    // Reply sent, LastFailure after the meter's prefix (none: only that it is a malformed reply).
    const std::pair<std::string, std::string> cases[] = {
        {"R, 19.00m,0000005915Hz,0000000000c,0000000.000s, 027.0C", ""},  // upper-case R
        {"x, 19.00m,0000005915Hz,0000000000c,0000000.000s, 027.0C", ""},
        {"r, 19.00m,0000005915Hz,0000000000c,0000000.000s", ""},  // five items
        {"r, 19.00m,00000059x5Hz,0000000000c,0000000.000s, 027.0C", ""},  // not an integer
        {"r, nanm,0000005915Hz,0000000000c,0000000.000s, 027.0C", ""},
        {"r, 1,9.00m,0000005915Hz,0000000000c,0000000.000s", ""},
        {"r,19.29m,5915Hz,0c,0.0s,", ""},  // an empty sixth item
        {"r, 19.x0m,0000005915Hz,0000000000c,0000000.000s, 027.0C",
         "r, 19.x0m,0000005915Hz,0000000000c,0000000.000s, 027.0C\": Invalid sky brightness '19.x0m'"},
        {"r, 19.2\x7Fm,\x1B[2J0000005915Hz,0000000000c,0000000.000s, 027.0C\x07",
         "r, 19.2\\x7Fm,\\x1B[2J0000005915Hz,0000000000c,0000000.000s, 027.0C\\x07\": Invalid sky brightness "
         "'19.2\\x7Fm'"},
        {"\x1B]0;owned\x07\r\xC2\x9B" "2J\xFF", "\\x1B]0;owned\\x07\\r\\xC2\\x9B2J\\xFF\": Not a reading reply"},
        {"r, 19.00m,0000005915Hz", "r, 19.00m,0000005915Hz\": Reading reply with too few items"},
    };
    int expectedBeeps = 0;
    for (const auto& [reply, failure] : cases) {
        SCOPED_TRACE(reply);
        Reply(reply);
        EXPECT_FALSE(s->UpdateReading(nullptr, 0));
        if (failure.empty())
            EXPECT_EQ(s->LastFailure().rfind(meter, 0), 0u) << s->LastFailure();
        else
            EXPECT_EQ(s->LastFailure(), meter + failure);
        ExpectUnchanged(*s, when);
        EXPECT_EQ(beeps, ++expectedBeeps);
    }
}

TEST_F(MeterTest, ABlankOrAControlByteInsideAFieldIsAMalformedReplyNotTwoNumbers) {
    auto s = Station();
    Prime(*s);
    const double when = s->DateTime;
    const std::string head = "r, 19.29m,0000005915Hz,0000000000c,0000000.000s,";
    // Reply, and why it is refused (the reply itself quoted escaped before it).
    const std::pair<std::string, std::string> cases[] = {
        {head + " 02 7.0C", "Invalid temperature '02 7.0C'"},  // was stored as 0.0 °C
        {head + " 02\t7.0C", "Invalid temperature '02\\t7.0C'"},
        {head + " 0\x01" "27.0C", "Invalid temperature '0\\x0127.0C'"},
        {"r, 19 .29m,0000005915Hz,0000000000c,0000000.000s, 027.0C", "Invalid sky brightness '19 .29m'"},
        {"r, 19.\x1F" "29m,0000005915Hz,0000000000c,0000000.000s, 027.0C", "Invalid sky brightness '19.\\x1F29m'"},
        {"r, 19.29m,00000 05915Hz,0000000000c,0000000.000s, 027.0C", "Invalid frequency '00000 05915Hz'"},
        {"r, 19.29m,0000005915Hz,00000\r00000c,0000000.000s, 027.0C", "Invalid period counts '00000\\r00000c'"},
        {"r, 19.29m,0000005915Hz,0000000000c,0000000 .000s, 027.0C", "Invalid period '0000000 .000s'"},
    };
    int expectedBeeps = 0;
    for (const auto& [reply, why] : cases) {
        SCOPED_TRACE(reply);
        Reply(reply);
        EXPECT_FALSE(s->UpdateReading(nullptr, 0));
        EXPECT_EQ(s->LastFailure(), Meter() + "malformed reply \"" + Printable(reply) + "\": " + why);
        ExpectUnchanged(*s, when);
        EXPECT_EQ(beeps, ++expectedBeeps);
        SqmReadingReply parsed;
        std::string error;
        EXPECT_FALSE(ParseReadingReply(reply, parsed, &error));
        EXPECT_EQ(error, why);
    }
    // Blanks and tabs around the fields are still no part of them.
    Reply("r,\t19.31m , 0000005915Hz\t,0000000001c ,0000000.100s,  -02.5C  ");
    ASSERT_TRUE(s->UpdateReading(nullptr, 0)) << s->LastFailure();
    EXPECT_EQ(std::make_tuple(s->SQMValue, s->Counts, s->Period, s->Temperature), std::make_tuple(19.31, 1, 0.1, -2.5));
}

// A reply with one item replaced: 1 brightness, 2 frequency, 3 counts, 4 period, 5 temperature.
std::string ReplyWith(int item, const std::string& text) {
    std::vector<std::string> items = {"r", " 19.29m", "0000005915Hz", "0000000000c", "0000000.000s", " 027.0C"};
    items[item] = text;
    std::string line = items[0];
    for (size_t i = 1; i < items.size(); ++i) line += "," + items[i];
    return line;
}

TEST(ReadingReply, ValuesNoMeterCanReportAreRefusedAndEachBoundIsInside) {
    const std::string huge(66, '9');
    // Item, its text, and why it is refused (empty: accepted).
    const struct {
        int item;
        std::string text, why;
    } cases[] = {
        {1, "35.00m", ""},
        {1, "35.01m", "Sky brightness '35.01m' out of range (-15 to 35 mag/arcsec\u00b2)"},
        {1, "-15.00m", ""},
        {1, "-15.01m", "Sky brightness '-15.01m' out of range (-15 to 35 mag/arcsec\u00b2)"},
        {1, " 00.00m", ""},  // daylight
        {1, huge + ".00m", "Sky brightness '" + huge + ".00m' out of range (-15 to 35 mag/arcsec\u00b2)"},
        {1, "nanm", "Invalid sky brightness 'nanm'"},
        {1, "-infm", "Invalid sky brightness '-infm'"},
        {1, "1" + std::string(400, '0') + "m", "Invalid sky brightness '1" + std::string(400, '0') + "m'"},
        {2, "0000000000Hz", ""},
        {2, "0100000000Hz", ""},
        {2, "0100000001Hz", "Frequency '0100000001Hz' out of range (0 to 100000000 Hz)"},
        {2, "-000000001Hz", "Frequency '-000000001Hz' out of range (0 to 100000000 Hz)"},
        {2, huge + "Hz", "Invalid frequency '" + huge + "Hz'"},
        {3, "2000000000c", ""},
        {3, "2000000001c", "Period counts '2000000001c' out of range (0 to 2000000000)"},
        {3, "-000000001c", "Period counts '-000000001c' out of range (0 to 2000000000)"},
        {4, "0003600.000s", ""},
        {4, "0003600.001s", "Period '0003600.001s' out of range (0 to 3600 s)"},
        {4, "-000000.001s", "Period '-000000.001s' out of range (0 to 3600 s)"},
        {4, "infs", "Invalid period 'infs'"},
        {5, "100.0C", ""},
        {5, "100.1C", "Temperature '100.1C' out of range (-100 to 100 \u00b0C)"},
        {5, "-100.0C", ""},
        {5, "-100.1C", "Temperature '-100.1C' out of range (-100 to 100 \u00b0C)"},
        {5, huge + "C", "Temperature '" + huge + "C' out of range (-100 to 100 \u00b0C)"},
        {5, "NaNC", "Invalid temperature 'NaNC'"},
    };
    for (const auto& c : cases) {
        const std::string line = ReplyWith(c.item, c.text);
        SCOPED_TRACE(line.substr(0, 120));
        SqmReadingReply reply;
        std::string why;
        EXPECT_EQ(ParseReadingReply(line, reply, &why), c.why.empty());
        EXPECT_EQ(why, c.why);
    }
}

TEST(ReadingReply, TheSimulatorsRepliesAtTheEndsOfTheRangesAreTakenAsTheyWereSent) {
    // Brightness, frequency, counts, period, temperature.
    const std::tuple<double, int, int, double, double> ends[] = {
        {19.29, 5915, 0, 0, 27},  // the simulator's own
        {-15, 100000000, 0, 0, -100},
        {35, 0, 2000000000, 3600, 100},
    };
    for (const auto& [value, frequency, counts, period, temperature] : ends) {
        SqmSimConfig c;
        c.Value = value;
        c.Frequency = frequency;
        c.Counts = counts;
        c.Period = period;
        c.Temperature = temperature;
        SqmReadingReply r;
        ASSERT_TRUE(ParseReadingReply(FormatReadingReply(c), r)) << FormatReadingReply(c);
        EXPECT_EQ(std::make_tuple(r.SQMValue, r.Frequency, r.Counts, r.Period, r.Temperature),
                  std::make_tuple(c.Value, c.Frequency, c.Counts, c.Period, c.Temperature));
    }
}

TEST_F(MeterTest, AnImpossibleValueFailsTheReadingAndItsCauseQuotesTheReplyEscaped) {
    auto s = Station();
    Prime(*s);
    const double when = s->DateTime;
    const std::string temperature = std::string(66, '9') + "C";
    Reply("r, 19.29m,0000005915Hz,0000000000c,0000000.000s," + temperature + ",\x1B[2J");
    EXPECT_FALSE(s->UpdateReading(nullptr, 0));
    ExpectUnchanged(*s, when);
    const std::string escaped = "r, 19.29m,0000005915Hz,0000000000c,0000000.000s," + temperature + ",\\x1B[2J";
    EXPECT_EQ(s->LastFailure(), Meter() + "malformed reply \"" + escaped + "\": Temperature '" + temperature +
                                    "' out of range (-100 to 100 \u00b0C)");
    EXPECT_EQ(beeps, 1);
}

TEST_F(MeterTest, ASilentMeterFailsAfterTheReadTimeoutAndItsLateAnswerIsNotTakenForTheNextReply) {
    auto s = Station(1);
    EXPECT_EQ(s->LastFailure(), "");
    Prime(*s);
    const double when = s->DateTime;
    Set([](SqmSimConfig& c) { c.Silent = true; });
    EXPECT_FALSE(s->UpdateReading(nullptr, 0));
    ExpectUnchanged(*s, when);
    EXPECT_EQ(s->LastFailure(), Meter() + "no answer within 1 s");
    EXPECT_FALSE(s->UpdateInfo());
    EXPECT_EQ(s->LastFailure(), Meter() + "no answer within 1 s");

    Set([](SqmSimConfig& c) { c.Silent = false; c.DelayMs = 1500; c.Value = 10.0; });
    EXPECT_FALSE(s->UpdateReading(nullptr, 0));
    Set([](SqmSimConfig& c) { c.DelayMs = 0; c.Value = 20.5; });
    ASSERT_TRUE(s->UpdateReading(nullptr, 0));
    EXPECT_DOUBLE_EQ(s->SQMValue, 20.5);
    EXPECT_EQ(s->LastFailure(), "");

    Set([](SqmSimConfig& c) { c.Silent = true; });
    s->Client->ReadTimeoutMs = 300;
    EXPECT_FALSE(s->UpdateReading(nullptr, 0));
    EXPECT_EQ(s->LastFailure(), Meter() + "no answer within 300 ms");
    Set([](SqmSimConfig& c) { c.Silent = false; });
    ASSERT_TRUE(s->UpdateInfo());
    EXPECT_EQ(s->LastFailure(), "");
}

TEST_F(MeterTest, NoMeterToTalkToFailsReadingsThrowsForTheIdentityAndLastFailureGivesTheSystemsWords) {
    const int port = sim.Port();
    const std::string meter = Meter();
    sim.Stop();
    TSQM s(TSQMOptions{.Host = "127.0.0.1", .Port = port, .TimeoutSeconds = 1});
    s.Beep = [this] { ++beeps; };
    const std::string refused = meter + "cannot connect: Socket error: " + std::strerror(ECONNREFUSED);
    EXPECT_FALSE(s.UpdateReading(nullptr, 0));
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(s.LastFailure(), refused);
    EXPECT_THROW(s.UpdateInfo(), TcpError);
    EXPECT_EQ(s.LastFailure(), refused);
    EXPECT_THROW(TSQM(TSQMOptions{.Host = "127.0.0.1", .Port = port, .TimeoutSeconds = 1, .DoInfo = true}), TcpError);

    TSQM nowhere(TSQMOptions{.Host = "nosuchhost.invalid", .Port = port, .TimeoutSeconds = 1});
    EXPECT_FALSE(nowhere.UpdateReading(nullptr, 0));
    const std::string unresolved = "SQM-LE at nosuchhost.invalid:" + std::to_string(port) +
                                   ": cannot connect: Cannot resolve host nosuchhost.invalid: ";
    EXPECT_EQ(nowhere.LastFailure().rfind(unresolved, 0), 0u) << nowhere.LastFailure();
    EXPECT_GT(nowhere.LastFailure().size(), unresolved.size());

    // A meter that hangs up instead of answering, or sends a line without end.
    sim.Start(port);
    Set([](SqmSimConfig& c) { c.CloseOnRequest = true; });
    EXPECT_FALSE(s.UpdateReading(nullptr, 0));
    EXPECT_EQ(s.LastFailure(), meter + "connection lost: Connection closed gracefully.");
    Set([](SqmSimConfig& c) { c.CloseOnRequest = false; });
    Reply(std::string(100000, 'r'));
    EXPECT_FALSE(s.UpdateReading(nullptr, 0));
    Reply("");
    EXPECT_TRUE(s.UpdateReading(nullptr, 0));
}

TEST_F(MeterTest, AnAddressThatDropsTheConnectionAttemptFailsAfterTheSitesOwnTimeout) {
    testsupport::TFullBacklog dropping;
    ASSERT_TRUE(dropping.Full()) << "the system answered every attempt on a full queue";
    const std::string meter = "SQM-LE at 127.0.0.1:" + std::to_string(dropping.Port()) + ": ";
    for (const int seconds : {1, 2}) {
        SCOPED_TRACE(seconds);
        const std::string timedOut = "Connection timed out after " + std::to_string(seconds) + " s";
        TSQM s(TSQMOptions{.Host = "127.0.0.1", .Port = dropping.Port(), .TimeoutSeconds = seconds});
        EXPECT_FALSE(s.UpdateReading(nullptr, 0));
        EXPECT_EQ(s.LastFailure(), meter + "cannot connect: " + timedOut);
        try {
            TSQM test(TSQMOptions{.Host = "127.0.0.1", .Port = dropping.Port(), .TimeoutSeconds = seconds,
                .DoInfo = true});  // the connection test
            ADD_FAILURE() << "connected";
        } catch (const TcpError& e) {
            EXPECT_EQ(e.what(), timedOut);
        }
    }
}

TEST_F(MeterTest, IdentityWithZeroPaddingAndMalformedIdentitiesQuotedEscaped) {
    // the connection test
    TSQM s(TSQMOptions{.Host = "127.0.0.1", .Port = sim.Port(), .TimeoutSeconds = 1, .DoInfo = true, .Offset = 1.5});
    EXPECT_EQ(std::make_tuple(s.Protocol, s.Model, s.Feature, s.Serial), std::make_tuple(4, 3, 57, 3911));
    EXPECT_DOUBLE_EQ(s.Offset, 1.5);
    EXPECT_FALSE(s.Client->Connected());

    Info("x,1,2,3,4");  // not an identity reply: true, nothing parsed
    EXPECT_TRUE(s.UpdateInfo());
    EXPECT_EQ(s.Serial, 3911);
    const std::string meter = Meter() + "malformed reply \"";
    Info("i,00000004,0000000A,\x7F,00003911");
    try {
        s.UpdateInfo();
        ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "'0000000A' is not a valid integer value");
    }
    EXPECT_EQ(s.Model, 3);
    Info("i,\x1B[31m,2\x7F");
    EXPECT_THROW(s.UpdateInfo(), std::invalid_argument);
    EXPECT_EQ(s.LastFailure(), meter + "i,\\x1B[31m,2\\x7F\": Identity reply with too few items: i,\\x1B[31m,2\\x7F");
    Info("i,00000004,\x7F,0000000A,00003911");
    EXPECT_THROW(s.UpdateInfo(), std::invalid_argument);
    EXPECT_EQ(s.LastFailure(), meter + "i,00000004,\\x7F,0000000A,00003911\": '\\x7F' is not a valid integer value");
}

TEST_F(MeterTest, DestroyingAStationClosesItsConnection) {
    Set([](SqmSimConfig& c) { c.Silent = true; });
    auto s = Station(1);
    s->Client->Connect(1000);
    ASSERT_TRUE(s->Client->Connected());
    for (int i = 0; i < 100 && sim.OpenConnections() != 1; ++i) usleep(20000);
    ASSERT_EQ(sim.OpenConnections(), 1);
    s.reset();
    for (int i = 0; i < 100 && sim.OpenConnections() != 0; ++i) usleep(20000);
    EXPECT_EQ(sim.OpenConnections(), 0);
}

}  // namespace
