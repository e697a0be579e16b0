// kalosqm-cli meter against the simulated SQM-LE: what it prints, and why a
// reading failed, told apart.
#include <gtest/gtest.h>

#include "service_test_support.h"
#include "sqmsim.h"
#include "testsupport.h"

namespace {

using namespace servicetest;

class MeterCli : public ::testing::Test {
protected:
    void SetUp() override { sim.Start(); }
    int Run(const std::vector<std::string>& args) {
        TChild cli;
        cli.Start(KALO_CLI_EXE, args, dir.Path() / ("cli-" + std::to_string(++runs) + ".txt"));
        const int code = cli.WaitExit(30s);
        out = cli.Out();
        err = cli.Err();
        return code;
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(sim.Port()); }

    testsupport::TempDir dir;
    SqmSimulator sim;
    std::string out, err;
    int runs = 0;
};

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST_F(MeterCli, ReadsTheIdentityAndAReading) {
    SqmSimConfig c = sim.Config();
    c.Value = 21.34;
    c.Temperature = -3.5;
    sim.SetConfig(c);
    ASSERT_EQ(Run({"meter", "info", Address()}), 0) << err;
    EXPECT_EQ(out, "Protocol: 4\nModel: 3\nFeature: 57\nSerial: 3911\n");
    ASSERT_EQ(Run({"meter", "read", Address()}), 0) << err;
    EXPECT_TRUE(Has(out, "Sky brightness: 21.34 mag/arcsec2\n")) << out;
    EXPECT_TRUE(Has(out, "Temperature: -3.5 C\n")) << out;
}

TEST_F(MeterCli, AFailedReadingSaysWhy) {
    const std::string closed = "127.0.0.1:" + std::to_string(testsupport::ClosedPort());
    EXPECT_EQ(Run({"meter", "read", closed, "--timeout", "2"}), 1);
    EXPECT_TRUE(Has(err, "Connection refused")) << err;

    SqmSimConfig c = sim.Config();
    c.Silent = true;
    sim.SetConfig(c);
    EXPECT_EQ(Run({"meter", "read", Address(), "--timeout", "1"}), 1);
    EXPECT_TRUE(Has(err, "no answer within 1 s")) << err;
    EXPECT_EQ(Run({"meter", "info", Address(), "--timeout", "1"}), 1);
    EXPECT_TRUE(Has(err, "no answer within 1 s")) << err;

    // The line itself, its control bytes escaped: nothing raw reaches the terminal.
    c.Silent = false;
    c.RawReading = "r, 19.5\x1B[2Jm";
    sim.SetConfig(c);
    EXPECT_EQ(Run({"meter", "read", Address(), "--timeout", "2"}), 1);
    EXPECT_TRUE(Has(err, "malformed reply")) << err;
    EXPECT_TRUE(Has(err, "r, 19.5\\x1B[2Jm")) << err;
    EXPECT_FALSE(Has(err, "\x1B")) << err;
}

TEST_F(MeterCli, UsageErrorsExitWithTwo) {
    EXPECT_EQ(Run({"meter", "read"}), 2);
    EXPECT_TRUE(Has(err, "address is required")) << err;
    EXPECT_EQ(Run({"meter", "read", "127.0.0.1:70000"}), 2);
    EXPECT_EQ(Run({"meter", "read", Address(), "--timeout", "0"}), 2);
    EXPECT_EQ(Run({"meter", "fetch", Address()}), 2);
    EXPECT_EQ(Run({"meter", "read", "--help"}), 0);
    EXPECT_TRUE(Has(out, "--timeout")) << out;
}
