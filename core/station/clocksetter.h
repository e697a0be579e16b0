#pragma once
// Setting the PC clock, behind an interface so that nothing but the program
// itself ever touches the machine's clock.
class IClockSetter {
public:
    virtual ~IClockSetter() = default;
    // Sets the system clock to the given UTC date-time. False when the
    // system refuses (no right to set the time) or the value is unusable.
    // UTC rather than local time: a local time in the hour that repeats when
    // daylight saving ends would name two instants.
    virtual bool SetClockUtc(double utc) = 0;
};

// clock_settime(CLOCK_REALTIME). When the process holds CAP_SYS_TIME only in
// its permitted set, the capability is made effective for the call and
// dropped again afterwards.
class TClockSetter : public IClockSetter {
public:
    bool SetClockUtc(double utc) override;
};
