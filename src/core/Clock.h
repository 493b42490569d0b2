#pragma once

namespace core {

/// Monotonic time in seconds, injectable so that hold times and watchdogs can be tested without sleeping.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double now() const = 0;
};

/// The steady clock of the system.
class SystemClock : public Clock {
public:
    double now() const override;
};

} // namespace core
