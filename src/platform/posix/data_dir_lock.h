#pragma once
// One running host per data folder: a lock file held (flock) for the life
// of the process. The kernel drops the lock when the process ends, however
// it ends, so a crash leaves nothing to clean up.
#include <string>

#include "core/error.h"

namespace korvex::posix {

class DataFolderLock {
public:
    explicit DataFolderLock(int fd = -1) : fd_(fd) {}
    ~DataFolderLock();
    DataFolderLock(DataFolderLock&& other) noexcept;
    DataFolderLock& operator=(DataFolderLock&&) = delete;
    DataFolderLock(const DataFolderLock&) = delete;

private:
    int fd_;
};

// Creates the folder if needed and takes its lock; fails with a text for
// the user when another process holds it.
Result<DataFolderLock> lock_data_folder(const std::string& folder);

}  // namespace korvex::posix
