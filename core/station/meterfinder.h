#pragma once
// TMeterFinder: the SQM-LE meters of the local network. The meter's network
// module answers a UDP discovery request (port 30718); every address that
// answers is then asked "ix" on the meter's TCP port, so that a device that
// is not a meter is told apart. It works in short non-blocking steps, so a
// window can drive it from its event loop and stay responsive; Run() does
// the whole search for a shell. IPv4 only.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "core/station/sqm.h"

struct TFinderOptions {
    // Empty: the broadcast address of every IPv4 interface; otherwise the
    // one IPv4 address asked, and replies from anywhere else are ignored.
    std::string Target;
    int DiscoveryPort = 30718;
    int MeterPort = 10001;
    // How long replies are collected; with a Target, only until it has
    // answered with its MAC.
    int ListenMs = 3000;
    int IdentifyTimeoutMs = 2000;  // connect and "ix" answer, every address at once
};

struct TFoundDevice {
    std::string Address;         // dotted IPv4
    std::string Mac;             // "00:20:4A:12:34:56"; empty when only the setup record came
    bool VendorPrefix = false;   // the MAC is of the meter module's maker (00-20-4A): a hint only
    bool IsMeter = false;        // answered "ix" with an identity
    SqmInfoReply Identity;       // when IsMeter
    std::string NotMeter;        // why it is not taken for a meter, when !IsMeter
};

// What came back besides the devices: unusable datagrams are ignored and
// counted, never trusted.
struct TFinderCounts {
    int Sent = 0;           // discovery requests sent
    int Received = 0;       // datagrams received
    int Duplicates = 0;     // good replies from an address already listed
    int TooShort = 0;
    int TooLong = 0;
    int WrongFunction = 0;  // not 00 00 00 F7 or 00 00 00 F9
    int OtherSender = 0;    // from another address than the one asked
    int OtherAddress = 0;   // a setup record naming another address than its sender's
    int TooMany = 0;        // devices beyond the listed maximum
    int Ignored() const { return TooShort + TooLong + WrongFunction + OtherSender + OtherAddress + TooMany; }
};

class TMeterFinder {
public:
    // The function byte of the requests and of their replies.
    static constexpr uint8_t kQuery = 0xF6, kQueryReply = 0xF7;
    static constexpr uint8_t kSetup = 0xF8, kSetupReply = 0xF9;
    static constexpr size_t kQueryReplyMin = 30, kQueryReplyMax = 64;  // the MAC sits at bytes 24-29
    static constexpr size_t kSetupRecordSize = 120;                     // the IP sits at bytes 4-7
    static constexpr size_t kMaxDevices = 64;

    explicit TMeterFinder(TFinderOptions options);
    ~TMeterFinder();
    TMeterFinder(const TMeterFinder&) = delete;
    TMeterFinder& operator=(const TMeterFinder&) = delete;

    // Opens the socket and sends the requests (one query and one setup
    // request to each destination). Throws std::invalid_argument for a
    // target that is not an IPv4 address, std::runtime_error when nothing
    // could be sent.
    void Start();
    // Does what is due, waiting at most waitMs for the network; false once
    // the search has ended. Never throws: a device that fails is listed
    // with its cause.
    bool Step(int waitMs);
    bool Finished() const { return phase_ == Phase::Done; }
    // Start, then steps until the end.
    void Run();

    // In the order they first answered.
    const std::vector<TFoundDevice>& Devices() const { return devices_; }
    const TFinderCounts& Counts() const { return counts_; }
    const TFinderOptions& Options() const { return options_; }

private:
    using Clock = std::chrono::steady_clock;
    enum class Phase { Idle, Listening, Identifying, Done };
    struct Probe;

    void Listen(int waitMs);
    void Accept(const uint8_t* data, size_t size, size_t fullSize, uint32_t sender);
    TFoundDevice* Device(uint32_t address);
    void StartIdentifying();
    void Identify(int waitMs);
    void Finish(Probe& p, std::string notMeter);
    void CloseAll();

    TFinderOptions options_;
    Phase phase_ = Phase::Idle;
    int udp_ = -1;
    uint32_t target_ = 0;  // network order; 0 when broadcasting
    Clock::time_point deadline_;
    std::vector<TFoundDevice> devices_;
    std::vector<uint32_t> deviceAddresses_;  // network order, beside devices_
    std::vector<Probe> probes_;
    TFinderCounts counts_;
};

// "00:20:4A:12:34:56" of six bytes.
std::string FormatMac(const uint8_t mac[6]);
