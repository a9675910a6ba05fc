// Runs a check in a child process that has no right to write where its
// user may not: root drops to the unprivileged "nobody" account first,
// since root writes into read-only directories regardless.
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace kt::test {

// fn's result as the child's exit status; -1 when the child could not run
// or died.
inline int RunUnprivileged(const std::function<int()>& fn) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(125);
        _exit(fn());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace kt::test
