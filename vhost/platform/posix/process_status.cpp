// Programs and child processes on POSIX: the execute permission and wait() statuses.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "vhost/platform/system.hpp"

namespace vhost::platform {

bool isExecutableFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

int exitStatusOf(int nativeStatus, int otherwise) {
    if (WIFEXITED(nativeStatus)) return WEXITSTATUS(nativeStatus);
    if (WIFSIGNALED(nativeStatus)) return 128 + WTERMSIG(nativeStatus);
    return otherwise;
}

}  // namespace vhost::platform
