#include "platform/posix/data_dir_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace korvex::posix {

DataFolderLock::~DataFolderLock() {
    if (fd_ >= 0) ::close(fd_);
}

DataFolderLock::DataFolderLock(DataFolderLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Result<DataFolderLock> lock_data_folder(const std::string& folder) {
    const std::string dir = folder.empty() ? "." : folder;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return fail("the data folder " + dir + " could not be created: " + ec.message());
    const std::string path = dir + "/host.lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return fail("the lock file " + path + " could not be opened: " + std::strerror(errno));
    DataFolderLock lock(fd);
    int rc;
    while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        if (errno == EWOULDBLOCK)
            return fail("another Korvex host is already running on the data folder " + dir +
                        " (stop it first, or give this one another folder with --data-dir)");
        return fail("the lock file " + path + " could not be locked: " + std::strerror(errno));
    }
    return lock;
}

}  // namespace korvex::posix
