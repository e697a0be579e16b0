#pragma once
// A simulated SQM-LE: answers "rx" with a reading, "ix" with its identity
// and "cx" with its calibration, in the meter's reply forms, and, when asked
// to, the UDP discovery of its network module. It can also misbehave on
// purpose: answer late, never, with a reply of our choosing, or hang up.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

struct SqmSimConfig {
    double Value = 19.29;      // mag/arcsec^2
    int Frequency = 5915;      // Hz
    int Counts = 0;
    double Period = 0.0;       // s
    double Temperature = 27.0; // deg C
    int Protocol = 4, Model = 3, Feature = 57, Serial = 3911;
    // Calibration ("cx"): light offset, dark period, temperatures at each.
    double CalLightOffset = 19.84;      // mag/arcsec^2
    double CalDarkPeriod = 151.517;     // s
    double CalLightTemperature = 39.4;  // deg C
    double CalSensorOffset = 8.71;      // mag/arcsec^2
    double CalDarkTemperature = 29.5;   // deg C
    bool AnswerCalibration = true;      // false: "cx" is ignored, as by meters without it
    int DelayMs = 0;           // wait before each answer
    bool Silent = false;       // read requests, never answer
    bool SilentInfo = false;   // answer readings, never the identity ("ix")
    bool CloseOnRequest = false;  // hang up instead of answering
    std::string RawReading;    // when set, sent instead of the "rx" reply (without line end)
    std::string RawInfo;       // likewise for "ix"
    std::string RawCalibration;  // likewise for "cx"
    // Discovery: the module's MAC (its maker's prefix 00-20-4A), and which
    // of the two requests it answers.
    std::array<uint8_t, 6> Mac = {0x00, 0x20, 0x4A, 0x00, 0x0F, 0x47};
    bool AnswerQuery = true;  // 00 00 00 F6 -> F7 with the MAC at bytes 24-29
    bool AnswerSetup = true;  // 00 00 00 F8 -> F9, a 120-byte record with the IP at bytes 4-7
};

// The reply lines as the meter writes them (without the line end).
std::string FormatReadingReply(const SqmSimConfig& c);
std::string FormatInfoReply(const SqmSimConfig& c);
std::string FormatCalibrationReply(const SqmSimConfig& c);
// The discovery replies of the network module at the IPv4 address ip (network order).
std::string FormatQueryReply(const SqmSimConfig& c);
std::string FormatSetupReply(const SqmSimConfig& c, uint32_t ip);

class SqmSimulator {
public:
    explicit SqmSimulator(SqmSimConfig config = {});
    ~SqmSimulator();
    SqmSimulator(const SqmSimulator&) = delete;
    SqmSimulator& operator=(const SqmSimulator&) = delete;

    // Listens on 127.0.0.1; port 0 takes a free one. A discovery port of 0
    // or more answers discovery on that UDP port too (0: a free one). Throws
    // on failure.
    void Start(int port = 0, const std::string& bindAddress = "127.0.0.1", int discoveryPort = -1);
    void Stop();
    int Port() const { return port_; }
    int DiscoveryPort() const { return discoveryPort_; }
    int DiscoveryRequests() const { return discoveryRequests_; }

    void SetConfig(const SqmSimConfig& c);
    SqmSimConfig Config() const;
    int Requests() const { return requests_; }
    int OpenConnections() const { return open_; }

private:
    void Serve();
    void HandleClient(int fd);
    void AnswerDiscovery();

    mutable std::mutex mutex_;
    SqmSimConfig config_;
    int listenFd_ = -1;
    int port_ = 0;
    int udpFd_ = -1;
    int discoveryPort_ = 0;
    uint32_t bindIp_ = 0;  // network order
    int wakeFd_[2] = {-1, -1};
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> requests_{0};
    std::atomic<int> open_{0};
    std::atomic<int> discoveryRequests_{0};
};
