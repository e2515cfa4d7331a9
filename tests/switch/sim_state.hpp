#pragma once

// A private switch for the stand-in library: its state file (and the lock
// file beside it) in a folder of its own, named in KEZ_SIM_STATE for the
// object's lifetime.

#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace qvtest {

class PrivateSimState {
public:
    PrivateSimState()
    {
        char dir[] = "/tmp/kez-sim-test.XXXXXX";
        if (mkdtemp(dir) == nullptr || setenv("KEZ_SIM_STATE", (std::string(dir) + "/state").c_str(), 1) != 0)
            abort();
        dir_ = dir;
    }
    ~PrivateSimState()
    {
        (void)unsetenv("KEZ_SIM_STATE");
        (void)unsetenv("KEZ_SIM_CLOCK");
        (void)unlink(path().c_str());
        (void)unlink((path() + ".lock").c_str());
        (void)rmdir(dir_.c_str());
    }
    PrivateSimState(const PrivateSimState &) = delete;
    PrivateSimState &operator=(const PrivateSimState &) = delete;

    const std::string &dir() const { return dir_; }
    std::string path() const { return dir_ + "/state"; }

private:
    std::string dir_;
};

} // namespace qvtest
