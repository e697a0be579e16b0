// The meter client against the SQM-LE simulator on 127.0.0.1.
#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "myutils.h"
#include "sqm.h"
#include "sqmsim.h"
#include "uihooks.h"

namespace {

class MeterTest : public ::testing::Test {
protected:
    void SetUp() override {
        beeps = 0;
        SetBeepHook([this] { ++beeps; });
        sim.Start();
    }
    void TearDown() override { SetBeepHook(nullptr); }

    std::unique_ptr<TSQM> Station(int timeoutSeconds = 1) {
        return std::make_unique<TSQM>("127.0.0.1", sim.Port(), timeoutSeconds, nullptr, false, false, 0, 0, 0);
    }
    void Reply(const std::string& raw) {
        SqmSimConfig c = sim.Config();
        c.RawReading = raw;
        sim.SetConfig(c);
    }
    // Fills the station with a first good reading to compare against.
    void Prime(TSQM& s) {
        ASSERT_TRUE(s.UpdateReading(nullptr, false, 0));
        ASSERT_DOUBLE_EQ(s.SQMValue, 19.29);
    }
    static void ExpectUnchanged(const TSQM& s, double when) {
        EXPECT_DOUBLE_EQ(s.SQMValue, 19.29);
        EXPECT_EQ(s.Frequency, 5915);
        EXPECT_DOUBLE_EQ(s.Temperature, 27.0);
        EXPECT_DOUBLE_EQ(s.DateTime, when);
    }

    SqmSimulator sim;
    int beeps = 0;
};

TEST_F(MeterTest, ReadingReplyIsParsedAndCompletedWithoutASite) {
    SqmSimConfig c = sim.Config();
    c.Value = 21.004;
    c.Frequency = 123;
    c.Counts = 45;
    c.Period = 1.2345;
    c.Temperature = -3.45;
    sim.SetConfig(c);
    auto s = Station();
    const double before = NowUtc();
    ASSERT_TRUE(s->UpdateReading(nullptr, false, NowUtc() - NowLocal()));
    EXPECT_DOUBLE_EQ(s->SQMValue, 21.0);
    EXPECT_EQ(s->Frequency, 123);
    EXPECT_EQ(s->Counts, 45);
    EXPECT_DOUBLE_EQ(s->Period, 1.234);  // "0000001.234s" as the meter writes it
    EXPECT_DOUBLE_EQ(s->Temperature, -3.5);  // sent as "-003.5C"
    EXPECT_NEAR(s->DateTime, before, 5.0 / 86400);
    EXPECT_EQ(s->Origin, 'K');
    EXPECT_NEAR(s->NELM, 6.1155, 5e-5);
    // No site: fixed astronomy values.
    EXPECT_EQ(s->SunH, -90);
    EXPECT_EQ(s->MoonH, -90);
    EXPECT_EQ(s->MoonAgeDays, 0);
    EXPECT_EQ(s->AstroTwilight, 0);
    EXPECT_FALSE(s->Client->Connected());  // the exchange closes what it opened
    EXPECT_EQ(beeps, 0);
}

TEST_F(MeterTest, BlanksAfterCommasParseTheSame) {
    auto s = Station();
    Reply("r,19.31m,0000005915Hz,0000000001c,0000000.100s,027.0C");
    ASSERT_TRUE(s->UpdateReading(nullptr, false, 0));
    const double v1 = s->SQMValue;
    Reply("r,   19.31m,  0000005915Hz,\t0000000001c, 0000000.100s,   027.0C");
    ASSERT_TRUE(s->UpdateReading(nullptr, false, 0));
    EXPECT_DOUBLE_EQ(s->SQMValue, v1);
    EXPECT_EQ(s->Counts, 1);
    EXPECT_DOUBLE_EQ(s->Period, 0.1);
}

TEST_F(MeterTest, NegativeTemperatureAndHalfwayRounding) {
    auto s = Station();
    Reply("r, 18.125m,0000005915Hz,0000000000c,0000000.000s,-012.3C");
    ASSERT_TRUE(s->UpdateReading(nullptr, false, 0));
    EXPECT_DOUBLE_EQ(s->Temperature, -12.3);
    EXPECT_DOUBLE_EQ(s->SQMValue, 18.12);  // 1812.5 goes to the even neighbour
}

TEST_F(MeterTest, AnythingButACompleteReadingReplyChangesNothing) {
    auto s = Station();
    Prime(*s);
    const double when = s->DateTime;
    const char* bad[] = {
        "R, 19.00m,0000005915Hz,0000000000c,0000000.000s, 027.0C",  // upper-case R
        "x, 19.00m,0000005915Hz,0000000000c,0000000.000s, 027.0C",
        "r, 19.00m,0000005915Hz,0000000000c,0000000.000s",          // five items
        "r, 19.00m,00000059x5Hz,0000000000c,0000000.000s, 027.0C",  // not an integer
        "r, nanm,0000005915Hz,0000000000c,0000000.000s, 027.0C",
        "r, 1,9.00m,0000005915Hz,0000000000c,0000000.000s",
        "\x01\x02\xff\xfe junk",
    };
    int expectedBeeps = 0;
    for (const char* line : bad) {
        Reply(line);
        EXPECT_FALSE(s->UpdateReading(nullptr, false, 0)) << line;
        ExpectUnchanged(*s, when);
        EXPECT_EQ(beeps, ++expectedBeeps) << line;
    }
}

TEST_F(MeterTest, SilentMeterGivesFalseAfterTheReadTimeout) {
    auto s = Station(1);
    Prime(*s);
    const double when = s->DateTime;
    SqmSimConfig c = sim.Config();
    c.Silent = true;
    sim.SetConfig(c);
    EXPECT_FALSE(s->UpdateReading(nullptr, false, 0));
    ExpectUnchanged(*s, when);
    // A late answer to that request must not be taken for the next reply.
    c.Silent = false;
    c.DelayMs = 1500;
    c.Value = 10.0;
    sim.SetConfig(c);
    EXPECT_FALSE(s->UpdateReading(nullptr, false, 0));
    c.DelayMs = 0;
    c.Value = 20.5;
    sim.SetConfig(c);
    ASSERT_TRUE(s->UpdateReading(nullptr, false, 0));
    EXPECT_DOUBLE_EQ(s->SQMValue, 20.5);
}

TEST_F(MeterTest, OverlongLinesAndHangUpsFailCleanly) {
    auto s = Station(2);
    Prime(*s);
    Reply(std::string(100000, 'r'));
    EXPECT_FALSE(s->UpdateReading(nullptr, false, 0));
    SqmSimConfig c = sim.Config();
    c.RawReading.clear();
    c.CloseOnRequest = true;
    sim.SetConfig(c);
    EXPECT_FALSE(s->UpdateReading(nullptr, false, 0));
    c.CloseOnRequest = false;
    sim.SetConfig(c);
    EXPECT_TRUE(s->UpdateReading(nullptr, false, 0));
}

TEST_F(MeterTest, RefusedConnectionIsFalseForReadingsAndAnErrorForInfo) {
    const int port = sim.Port();
    sim.Stop();
    TSQM s("127.0.0.1", port, 1, nullptr, false, false, 0, 0, 0);
    EXPECT_FALSE(s.UpdateReading(nullptr, false, 0));
    EXPECT_EQ(beeps, 1);
    EXPECT_THROW(s.UpdateInfo(), TcpError);
    EXPECT_THROW(TSQM("127.0.0.1", port, 1, nullptr, false, true, 0, 0, 0), TcpError);
}

// LastFailure: why the last reading or identity request failed.
TEST_F(MeterTest, LastFailureTellsASilentMeterByItsTimeoutAndIsEmptyAfterASuccess) {
    auto s = Station(1);
    const std::string meter = "SQM-LE at 127.0.0.1:" + std::to_string(sim.Port()) + ": ";
    EXPECT_EQ(s->LastFailure(), "");
    SqmSimConfig c = sim.Config();
    c.Silent = true;
    sim.SetConfig(c);
    EXPECT_FALSE(s->UpdateReading(nullptr, false, 0));
    EXPECT_EQ(s->LastFailure(), meter + "no answer within 1 s");
    EXPECT_FALSE(s->UpdateInfo());
    EXPECT_EQ(s->LastFailure(), meter + "no answer within 1 s");
    s->Client->ReadTimeoutMs = 300;
    EXPECT_FALSE(s->UpdateReading(nullptr, false, 0));
    EXPECT_EQ(s->LastFailure(), meter + "no answer within 300 ms");

    c.Silent = false;
    sim.SetConfig(c);
    ASSERT_TRUE(s->UpdateReading(nullptr, false, 0));
    EXPECT_EQ(s->LastFailure(), "");
    c.Silent = true;
    sim.SetConfig(c);
    EXPECT_FALSE(s->UpdateInfo());
    c.Silent = false;
    sim.SetConfig(c);
    ASSERT_TRUE(s->UpdateInfo());
    EXPECT_EQ(s->LastFailure(), "");
}

TEST_F(MeterTest, LastFailureGivesTheSystemsWordsWhenThereIsNoMeterToTalkTo) {
    const int port = sim.Port();
    sim.Stop();
    TSQM s("127.0.0.1", port, 1, nullptr, false, false, 0, 0, 0);
    const std::string refused = "SQM-LE at 127.0.0.1:" + std::to_string(port) + ": cannot connect: Socket error: " +
                                std::strerror(ECONNREFUSED);
    EXPECT_FALSE(s.UpdateReading(nullptr, false, 0));
    EXPECT_EQ(s.LastFailure(), refused);
    EXPECT_THROW(s.UpdateInfo(), TcpError);
    EXPECT_EQ(s.LastFailure(), refused);

    TSQM nowhere("nosuchhost.invalid", port, 1, nullptr, false, false, 0, 0, 0);
    EXPECT_FALSE(nowhere.UpdateReading(nullptr, false, 0));
    const std::string unresolved = "SQM-LE at nosuchhost.invalid:" + std::to_string(port) +
                                   ": cannot connect: Cannot resolve host nosuchhost.invalid: ";
    EXPECT_EQ(nowhere.LastFailure().rfind(unresolved, 0), 0u) << nowhere.LastFailure();
    EXPECT_GT(nowhere.LastFailure().size(), unresolved.size());

    // A meter that hangs up instead of answering.
    sim.Start(port);
    SqmSimConfig c = sim.Config();
    c.CloseOnRequest = true;
    sim.SetConfig(c);
    EXPECT_FALSE(s.UpdateReading(nullptr, false, 0));
    EXPECT_EQ(s.LastFailure(), "SQM-LE at 127.0.0.1:" + std::to_string(port) + ": connection lost: Connection closed gracefully.");
}

TEST_F(MeterTest, LastFailureQuotesAMalformedReplyWithItsControlBytesEscaped) {
    auto s = Station();
    Prime(*s);
    const double when = s->DateTime;
    const std::string meter = "SQM-LE at 127.0.0.1:" + std::to_string(sim.Port()) + ": malformed reply \"";
    // Reply sent, LastFailure after the meter's prefix.
    const std::pair<std::string, std::string> cases[] = {
        {"r, 19.x0m,0000005915Hz,0000000000c,0000000.000s, 027.0C",
         "r, 19.x0m,0000005915Hz,0000000000c,0000000.000s, 027.0C\": Invalid sky brightness '19.x0m'"},
        {"r, 19.2\x7Fm,\x1B[2J0000005915Hz,0000000000c,0000000.000s, 027.0C\x07",
         "r, 19.2\\x7Fm,\\x1B[2J0000005915Hz,0000000000c,0000000.000s, 027.0C\\x07\": Invalid sky brightness "
         "'19.2\\x7Fm'"},
        {"\x1B]0;owned\x07\r\xC2\x9B" "2J\xFF", "\\x1B]0;owned\\x07\\r\\xC2\\x9B2J\\xFF\": Not a reading reply"},
        {"r, 19.00m,0000005915Hz", "r, 19.00m,0000005915Hz\": Reading reply with too few items"},
    };
    for (const auto& [reply, failure] : cases) {
        Reply(reply);
        EXPECT_FALSE(s->UpdateReading(nullptr, false, 0)) << failure;
        EXPECT_EQ(s->LastFailure(), meter + failure);
        ExpectUnchanged(*s, when);
    }

    SqmSimConfig c = sim.Config();
    c.RawInfo = "i,\x1B[31m,2\x7F";
    sim.SetConfig(c);
    EXPECT_THROW(s->UpdateInfo(), std::invalid_argument);
    EXPECT_EQ(s->LastFailure(), meter + "i,\\x1B[31m,2\\x7F\": Identity reply with too few items: i,\\x1B[31m,2\\x7F");
    c.RawInfo = "i,00000004,0000000A,\x7F,00003911";
    sim.SetConfig(c);
    try {
        s->UpdateInfo();
        ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "'0000000A' is not a valid integer value");
    }
    c.RawInfo = "i,00000004,\x7F,0000000A,00003911";
    sim.SetConfig(c);
    EXPECT_THROW(s->UpdateInfo(), std::invalid_argument);
    EXPECT_EQ(s->LastFailure(), meter + "i,00000004,\\x7F,0000000A,00003911\": '\\x7F' is not a valid integer value");
}

TEST_F(MeterTest, IdentityWithZeroPaddingAndErrors) {
    TSQM s("127.0.0.1", sim.Port(), 1, nullptr, false, true, 0, 1.5, 0);  // the connection test
    EXPECT_EQ(s.Protocol, 4);
    EXPECT_EQ(s.Model, 3);
    EXPECT_EQ(s.Feature, 57);
    EXPECT_EQ(s.Serial, 3911);
    EXPECT_DOUBLE_EQ(s.Offset, 1.5);
    EXPECT_FALSE(s.Client->Connected());

    SqmSimConfig c = sim.Config();
    c.RawInfo = "x,1,2,3,4";  // not an identity reply: true, nothing parsed
    sim.SetConfig(c);
    EXPECT_TRUE(s.UpdateInfo());
    EXPECT_EQ(s.Serial, 3911);
    c.RawInfo = "i,00000004,0000000A,00000057,00003911";
    sim.SetConfig(c);
    EXPECT_THROW(s.UpdateInfo(), std::invalid_argument);
    EXPECT_EQ(s.Model, 3);
    c.RawInfo = "i,1,2";
    sim.SetConfig(c);
    EXPECT_THROW(s.UpdateInfo(), std::invalid_argument);
}

TEST_F(MeterTest, CommaDecimalLocaleParsesTheSameAndIsLeftAsItWas) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "it_IT.UTF-8"), nullptr) << "the it_IT.UTF-8 locale is missing";
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.1f", 1.5);
    ASSERT_STREQ(buf, "1,5");
    auto s = Station();
    const bool ok = s->UpdateReading(nullptr, false, 0);
    std::snprintf(buf, sizeof buf, "%.1f", 1.5);
    const std::string after = buf;
    const std::string numeric = std::setlocale(LC_NUMERIC, nullptr);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_TRUE(ok);
    EXPECT_DOUBLE_EQ(s->SQMValue, 19.29);
    EXPECT_DOUBLE_EQ(s->Temperature, 27.0);
    EXPECT_EQ(after, "1,5");
    EXPECT_EQ(numeric, "it_IT.UTF-8");
}

TEST_F(MeterTest, DestroyingAStationClosesItsConnection) {
    SqmSimConfig c = sim.Config();
    c.Silent = true;
    sim.SetConfig(c);
    auto s = Station(1);
    s->Client->Connect(1000);
    ASSERT_TRUE(s->Client->Connected());
    for (int i = 0; i < 100 && sim.OpenConnections() != 1; ++i) usleep(20000);
    ASSERT_EQ(sim.OpenConnections(), 1);
    s.reset();
    for (int i = 0; i < 100 && sim.OpenConnections() != 0; ++i) usleep(20000);
    EXPECT_EQ(sim.OpenConnections(), 0);
}

TEST(Nelm, KnownValues) {
    EXPECT_NEAR(TSQM::ComputeNELM(21.00), 6.1155, 5e-5);
    EXPECT_NEAR(TSQM::ComputeNELM(18.00), 3.9681, 5e-5);
}

TEST(ReplyParsing, ReadingItemsDropTheirUnits) {
    SqmReadingReply r;
    std::string why;
    ASSERT_TRUE(ParseReadingReply("r, 19.29m,0000005915Hz,0000000000c,0000000.000s, 027.0C,extra", r, &why)) << why;
    EXPECT_DOUBLE_EQ(r.SQMValue, 19.29);
    EXPECT_EQ(r.Frequency, 5915);
    EXPECT_FALSE(ParseReadingReply("r,19.29m,5915Hz,0c,0.0s,", r, &why));
    EXPECT_FALSE(why.empty());
}

}  // namespace
