#pragma once

// What the simulated switch remembers between runs, kept in a small file so
// that counters behave like hardware: they grow with time, and a clear holds
// for every later run.

#include "unique_fd.hpp"

#include <array>
#include <cstdint>

namespace kezsim {

constexpr int kSwitchPorts = 11;
constexpr int64_t kNever = -1;

struct SimState {
    std::array<char, 8> magic;
    // Per switch port: when its counters were last cleared (they count from
    // there) and when MIB_dump last fetched them (kNever if it has not).
    std::array<int64_t, kSwitchPorts> cleared;
    std::array<int64_t, kSwitchPorts> fetched;
};
static_assert(sizeof(SimState) == 8 + 2 * kSwitchPorts * 8, "the state file has no padding");

// Seconds on the simulated switch's clock: KEZ_SIM_CLOCK when it is set (so
// that runs can be repeated exactly), the wall clock otherwise.
int64_t sim_now();

// Takes the lock an update of the state holds from its load to its save, so
// that concurrent runs lose no update: an exclusive flock on the file beside
// the state, "<state>.lock" (the state file itself is replaced by each
// save). Returns the lock's descriptor, or an invalid one with the reason
// printed; the lock file too must be the user's own regular file.
qv::UniqueFd lock_state();

// Loads the state from KEZ_SIM_STATE; without it each user has a switch of
// their own: kez-sim.state in $XDG_RUNTIME_DIR, or else
// /tmp/kez-sim-<uid>.state. Without a file the switch has just come up:
// every counter starts at now. Returns false, with the reason printed, when
// the file cannot be read or is not the user's own regular file (a FIFO or
// another user's file planted at the name).
bool load_state(SimState &state, int64_t now);

// Replaces the state file as a whole. Returns false, with the reason printed,
// on failure.
bool save_state(const SimState &state);

} // namespace kezsim
