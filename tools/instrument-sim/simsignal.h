// What the simulated measuring instrument reads on each channel: a pure function of the seed,
// the closed channel and the simulator's clock, so tests can predict every reading exactly.
//
// For a closed channel n (slot x 100 + 1..10) at t seconds after the simulator started:
//
//     value(seed, n, t) = n + 0.25 * sin(2*pi*t / 60 + phase(seed, n))
//
// so round(value) == n always names the channel a reading came from. With no channel closed:
//
//     value(seed, 0, t) = 0.1 * sin(2*pi*t / 60 + phase(seed, 0))      (|value| < 0.3)
//
// phase(seed, n) lies in [0, 2*pi) and comes from a splitmix64 hash of the seed and the channel,
// so two simulators with the same seed agree and different seeds or channels differ.
// With "--clock frozen" t is always 0 and a reading is exactly value(seed, n, 0).
// "FETC?" replies formatReading(value): "%+.8E" of the value, a comma, then the status "+0".
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

namespace simsignal {

constexpr double kPeriodSeconds = 60.0;
constexpr double kChannelAmplitude = 0.25;
constexpr double kOpenAmplitude = 0.1;
constexpr double kTwoPi = 6.283185307179586476925286766559;

inline std::uint64_t mix(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Phase of a channel's sine in [0, 2*pi); channel 0 stands for "no channel closed".
inline double phase(std::uint64_t seed, int channel)
{
    const std::uint64_t h = mix(seed ^ mix(static_cast<std::uint64_t>(channel)));
    return static_cast<double>(h >> 11) * 0x1.0p-53 * kTwoPi;
}

// The reading of a channel (0: none closed) t seconds after the simulator started.
inline double value(std::uint64_t seed, int channel, double t)
{
    const double angle = kTwoPi * t / kPeriodSeconds + phase(seed, channel);
    if (channel == 0)
        return kOpenAmplitude * std::sin(angle);
    return channel + kChannelAmplitude * std::sin(angle);
}

// The number as "%+.8E" prints it in the C locale, whatever the process locale is.
inline std::string formatValue(double v)
{
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 8);
    std::string text(buf, res.ptr);
    for (char &c : text) {
        if (c == 'e')
            c = 'E';
    }
    if (text.empty() || text[0] != '-')
        text.insert(text.begin(), '+');
    return text;
}

// The reply of "FETC?" without its line feed, e.g. "+1.01234567E+02,+0".
inline std::string formatReading(double v, bool goodStatus = true)
{
    return formatValue(v) + (goodStatus ? ",+0" : ",+1");
}

} // namespace simsignal
