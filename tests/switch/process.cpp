#include "process.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern char **environ;

namespace qvtest {
namespace {

struct TempFile {
    TempFile()
    {
        char name[] = "/tmp/qv-run.XXXXXX";
        fd = mkostemp(name, O_CLOEXEC);
        if (fd < 0)
            abort();
        path = name;
    }
    ~TempFile()
    {
        close(fd);
        unlink(path.c_str());
    }
    std::string text() const
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    int fd;
    std::string path;
};

} // namespace

RunResult run_program(const std::string &path, const std::vector<std::string> &args)
{
    TempFile out, err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.fd, 1);
    posix_spawn_file_actions_adddup2(&actions, err.fd, 2);

    std::vector<std::string> storage = args;
    std::vector<char *> argv;
    for (auto &a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid;
    const int rc = posix_spawnp(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return {"", "spawn " + path + " failed\n", -1};
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return {"", "waitpid failed\n", -1};
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return {out.text(), err.text(), code};
}

} // namespace qvtest
