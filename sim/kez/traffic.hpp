#pragma once

// The simulated switch's traffic: every port carries a fixed profile, so its
// counters grow at a steady rate and the rate display agrees with them.

#include "state.hpp"

#include <array>
#include <cstdint>

namespace kezsim {

enum Counter {
    kRxOctets,
    kRxUnicast,
    kRxMulticast,
    kRxBroadcast,
    kRxFcsErrors,
    kTxOctets,
    kTxUnicast,
    kTxMulticast,
    kTxBroadcast,
    kCounterCount
};

struct CounterInfo {
    const char *name;
    const char *help;
};

inline constexpr std::array<CounterInfo, kCounterCount> kCounters{{
    {"RxOctets", "bytes of good frames received, header and FCS included"},
    {"RxUnicast", "good frames received for a single station"},
    {"RxMulticast", "good frames received for a group address (not broadcast)"},
    {"RxBroadcast", "good frames received for the broadcast address"},
    {"RxFCSErrors", "frames received with a bad frame check sequence, dropped"},
    {"TxOctets", "bytes of frames sent, header and FCS included"},
    {"TxUnicast", "frames sent to a single station"},
    {"TxMulticast", "frames sent to a group address (not broadcast)"},
    {"TxBroadcast", "frames sent to the broadcast address"},
}};

// Frames per second of each kind, and their average size in bytes.
struct Traffic {
    uint32_t unicast;
    uint32_t multicast;
    uint32_t broadcast;
    uint32_t frame_bytes;
};

struct PortProfile {
    uint16_t speed_mbit; // 0: no link
    Traffic rx;
    Traffic tx;
    uint32_t rx_fcs_errors;
};

// By switch port. Port 9 faces the CPU, 10 and 8 are the optical ports.
inline constexpr std::array<PortProfile, kSwitchPorts> kProfiles{{
    {1000, {4200, 30, 12, 610}, {3900, 55, 20, 380}, 0},  // 0
    {1000, {860, 4, 2, 1150}, {910, 60, 21, 720}, 0},     // 1
    {0, {}, {}, 0},                                       // 2
    {10, {120, 1, 1, 480}, {150, 9, 4, 300}, 1},          // 3
    {0, {}, {}, 0},                                       // 4
    {1000, {15000, 80, 25, 1250}, {9800, 40, 19, 900}, 0}, // 5
    {100, {2100, 12, 6, 420}, {2400, 70, 23, 510}, 0},    // 6
    {0, {}, {}, 0},                                       // 7
    {0, {}, {}, 0},                                       // 8
    {1000, {310, 2, 3, 180}, {290, 24, 9, 160}, 0},       // 9
    {1000, {22000, 150, 40, 1380}, {18500, 90, 30, 1100}, 0}, // 10
}};

constexpr uint64_t frames_per_second(const Traffic &t)
{
    return uint64_t{t.unicast} + t.multicast + t.broadcast;
}

constexpr uint64_t counter_rate(const PortProfile &p, Counter counter)
{
    switch (counter) {
    case kRxOctets: return frames_per_second(p.rx) * p.rx.frame_bytes;
    case kRxUnicast: return p.rx.unicast;
    case kRxMulticast: return p.rx.multicast;
    case kRxBroadcast: return p.rx.broadcast;
    case kRxFcsErrors: return p.rx_fcs_errors;
    case kTxOctets: return frames_per_second(p.tx) * p.tx.frame_bytes;
    case kTxUnicast: return p.tx.unicast;
    case kTxMulticast: return p.tx.multicast;
    case kTxBroadcast: return p.tx.broadcast;
    case kCounterCount: break;
    }
    return 0;
}

// A counter after `seconds` of traffic; a clock set back counts as none.
constexpr uint64_t counter_value(const PortProfile &p, Counter counter, int64_t seconds)
{
    return seconds > 0 ? counter_rate(p, counter) * static_cast<uint64_t>(seconds) : 0;
}

} // namespace kezsim
