// Runs fn in a child process as a user who may not write where its user may
// not: root drops to "nobody" first, since root writes into read-only folders.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace kt::test {

// fn's result as the child's exit status; -1 when the child could not run or died.
inline int RunUnprivileged(const std::function<int()>& fn) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(125);
        _exit(fn());
    }
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kt::test
