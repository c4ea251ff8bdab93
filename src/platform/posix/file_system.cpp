// POSIX files: owner-only modes, fsync before rename and of the folder after.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/file_system.h"

namespace korvex {
namespace {

Error os_error(const std::string& what, const std::string& path, int err) {
    return Error{what + " " + path + ": " + std::strerror(err), static_cast<std::uint32_t>(err)};
}

std::string parent_of(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

class FdGuard {
public:
    explicit FdGuard(int fd) : fd_(fd) {}
    ~FdGuard() {
        if (fd_ >= 0) ::close(fd_);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

class PosixFileSystem final : public FileSystem {
public:
    char separator() const override { return '/'; }

    Result<std::optional<Bytes>> read_file(const std::string& path) override {
        FdGuard fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0) {
            if (errno == ENOENT) return std::optional<Bytes>{};
            return std::unexpected(os_error("Cannot open", path, errno));
        }
        Bytes data;
        std::uint8_t chunk[16384];
        for (;;) {
            ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
            if (n < 0) {
                if (errno == EINTR) continue;
                return std::unexpected(os_error("Cannot read", path, errno));
            }
            if (n == 0) break;
            data.insert(data.end(), chunk, chunk + n);
        }
        return std::optional<Bytes>(std::move(data));
    }

    Status write_file_flushed(const std::string& path, ByteView data) override {
        // A file or link left at this name (an interrupted save, or a link
        // planted to make us write elsewhere) goes first; the new file is
        // then created afresh, never through a link, and owner-only whatever
        // the umask or an old file's mode said.
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return std::unexpected(os_error("Cannot remove the old", path, errno));
        FdGuard fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (fd.get() < 0) return std::unexpected(os_error("Cannot create", path, errno));
        if (::fchmod(fd.get(), 0600) != 0) return std::unexpected(os_error("Cannot restrict", path, errno));
        std::size_t done = 0;
        while (done < data.size()) {
            ssize_t n = ::write(fd.get(), data.data() + done, data.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return std::unexpected(os_error("Cannot write", path, errno));
            }
            done += static_cast<std::size_t>(n);
        }
        if (::fsync(fd.get()) != 0) return std::unexpected(os_error("Cannot flush", path, errno));
        if (::close(fd.release()) != 0) return std::unexpected(os_error("Cannot close", path, errno));
        return {};
    }

    Status rename_replace(const std::string& from, const std::string& to) override {
        if (::rename(from.c_str(), to.c_str()) != 0) return std::unexpected(os_error("Cannot rename to", to, errno));
        // Make the new name itself durable; a folder that cannot be synced is
        // not a reason to report the replace as failed.
        FdGuard dir(::open(parent_of(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.get() >= 0) ::fsync(dir.get());
        return {};
    }

    Status create_directories(const std::string& path) override {
        if (path.empty()) return {};
        std::size_t pos = 0;
        while (pos != std::string::npos) {
            pos = path.find('/', pos + 1);
            std::string prefix = path.substr(0, pos);
            if (prefix.empty()) continue;
            if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
                return std::unexpected(os_error("Cannot create folder", prefix, errno));
        }
        struct stat st{};
        if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return std::unexpected(os_error("Not a folder:", path, ENOTDIR));
        // The folder holds the host's key and its paired devices: one that
        // exists already (made by hand, or by an older version) is narrowed
        // to its owner when that owner is us. Someone else's folder is left.
        if (st.st_uid == ::geteuid() && (st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0)
            return std::unexpected(os_error("Cannot restrict folder", path, errno));
        return {};
    }
};

}  // namespace

FileSystem& os_file_system() {
    static PosixFileSystem fs;
    return fs;
}

}  // namespace korvex
