#include "state.hpp"

#include "decimal.hpp"
#include "unique_fd.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>

namespace kezsim {
namespace {

constexpr std::array<char, 8> kMagic{'K', 'E', 'Z', 'S', 'I', 'M', '1', '\0'};

using PathBuffer = std::array<char, PATH_MAX>;

// len is what snprintf returned for path.
bool path_fits(int len, const PathBuffer &path)
{
    if (len >= 0 && static_cast<size_t>(len) < path.size())
        return true;
    fprintf(stderr, "kez: %s...: path too long\n", path.data());
    return false;
}

bool non_empty(const char *text) { return text != nullptr && text[0] != '\0'; }

// KEZ_SIM_STATE, or else a file of the user's own: the state file has mode
// 0600, so one file in a folder all users share would serve only its owner.
bool state_path(PathBuffer &path)
{
    const char *named = getenv("KEZ_SIM_STATE");
    const char *runtime = getenv("XDG_RUNTIME_DIR");
    int len;
    if (non_empty(named))
        len = snprintf(path.data(), path.size(), "%s", named);
    else if (non_empty(runtime))
        len = snprintf(path.data(), path.size(), "%s/kez-sim.state", runtime);
    else
        len = snprintf(path.data(), path.size(), "/tmp/kez-sim-%u.state", static_cast<unsigned>(getuid()));
    return path_fits(len, path);
}

// The state's path with `suffix` after it.
bool beside_state(const char *suffix, PathBuffer &path)
{
    PathBuffer state;
    return state_path(state) && path_fits(snprintf(path.data(), path.size(), "%s%s", state.data(), suffix), path);
}

SimState fresh_state(int64_t now)
{
    SimState state;
    state.magic = kMagic;
    state.cleared.fill(now);
    state.fetched.fill(kNever);
    return state;
}

// The state and its lock live where other users can plant names (/tmp), so
// they are opened without following a link and without waiting on a FIFO,
// and used only when they are regular files of this user: anything else
// would hang the switch or hand it another user's counters.
constexpr int kNoFollowNoWait = O_NOFOLLOW | O_NONBLOCK;

// Returns false, with the reason printed, unless fd is this user's own
// regular file.
bool is_own_regular_file(int fd, const char *path)
{
    struct stat st;
    if (fstat(fd, &st) < 0) {
        perror(path);
        return false;
    }
    if (S_ISREG(st.st_mode) && st.st_uid == geteuid())
        return true;
    fprintf(stderr, "kez: %s is not this user's own regular file, refused\n", path);
    return false;
}

bool write_all(int fd, const SimState &state, const char *path)
{
    const ssize_t n = write(fd, &state, sizeof state);
    if (n < 0) {
        perror(path);
        return false;
    }
    if (static_cast<size_t>(n) != sizeof state) {
        fprintf(stderr, "kez: %s: short write\n", path);
        return false;
    }
    return true;
}

} // namespace

int64_t sim_now()
{
    const char *fixed = getenv("KEZ_SIM_CLOCK");
    if (fixed != nullptr) {
        if (const std::optional<uint64_t> seconds = qv::parse_decimal(fixed, INT64_MAX))
            return static_cast<int64_t>(*seconds);
        fprintf(stderr, "kez: KEZ_SIM_CLOCK=%s is not a number of seconds\n", fixed);
    }
    // time() cannot fail when it is given no pointer to fill.
    return static_cast<int64_t>(time(nullptr));
}

qv::UniqueFd lock_state()
{
    PathBuffer path;
    if (!beside_state(".lock", path))
        return qv::UniqueFd();
    qv::UniqueFd fd = qv::open_fd(path.data(), O_RDWR | O_CREAT | kNoFollowNoWait, 0600);
    if (!fd.valid()) {
        perror(path.data());
        return fd;
    }
    if (!is_own_regular_file(fd.get(), path.data())) {
        fd.reset();
        return fd;
    }
    int rc;
    do {
        rc = flock(fd.get(), LOCK_EX);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        perror(path.data());
        fd.reset();
    }
    return fd;
}

bool load_state(SimState &state, int64_t now)
{
    PathBuffer state_file;
    if (!state_path(state_file))
        return false;
    const char *path = state_file.data();
    const qv::UniqueFd fd = qv::open_fd(path, O_RDONLY | kNoFollowNoWait);
    if (!fd.valid()) {
        if (errno != ENOENT) {
            perror(path);
            return false;
        }
        state = fresh_state(now);
        return true;
    }
    if (!is_own_regular_file(fd.get(), path))
        return false;
    SimState stored;
    const ssize_t n = read(fd.get(), &stored, sizeof stored);
    if (n < 0) {
        perror(path);
        return false;
    }
    if (static_cast<size_t>(n) != sizeof stored || stored.magic != kMagic) {
        fprintf(stderr, "kez: %s is not a switch state file, starting afresh\n", path);
        state = fresh_state(now);
        return true;
    }
    state = stored;
    return true;
}

bool save_state(const SimState &state)
{
    PathBuffer state_file;
    PathBuffer temp;
    if (!state_path(state_file) || !beside_state(".XXXXXX", temp))
        return false;
    const char *path = state_file.data();
    // Written to a new file of its own and renamed over the old one, so a run
    // killed half-way leaves the old state, and a name planted in /tmp is
    // never written through.
    qv::UniqueFd fd = qv::above_stdio(mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.valid()) {
        perror(path);
        return false;
    }
    bool saved = write_all(fd.get(), state, temp.data());
    if (saved && close(fd.release()) < 0) {
        perror(temp.data());
        saved = false;
    }
    if (saved && rename(temp.data(), path) < 0) {
        perror(path);
        saved = false;
    }
    if (!saved)
        (void)unlink(temp.data());
    return saved;
}

} // namespace kezsim
