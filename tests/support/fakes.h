#pragma once
// Fakes for the platform seams, shared by the tests.
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/random_source.h"
#include "platform/secret_protector.h"

namespace korvex::test {

// Hands out a fixed byte pattern: counter bytes starting at `start`.
class CountingRandom final : public RandomSource {
public:
    explicit CountingRandom(std::uint8_t start = 0) : next_(start) {}
    void fill(std::span<std::uint8_t> out) override {
        for (auto& b : out) b = next_++;
    }

private:
    std::uint8_t next_;
};

class FakeEnvironment final : public Environment {
public:
    std::map<std::string, std::string, std::less<>> vars;
    std::optional<std::string> get(std::string_view name) const override {
        auto it = vars.find(name);
        if (it == vars.end()) return std::nullopt;
        return it->second;
    }
};

// Files in memory, with switches to make each operation fail. Safe to use
// from several threads (the host writes from its pool); `files` itself is
// for single-threaded set-up and checks.
class MemoryFileSystem final : public FileSystem {
public:
    std::map<std::string, Bytes> files;
    std::atomic<bool> fail_read{false}, fail_write{false}, fail_rename{false}, fail_mkdir{false};
    // Called before each write, outside the lock: a test may block it.
    std::function<void(const std::string& path)> before_write;

    char separator() const override { return '/'; }
    Result<std::optional<Bytes>> read_file(const std::string& path) override {
        std::lock_guard lock(mutex_);
        auto it = files.find(path);
        if (it == files.end()) return std::optional<Bytes>{};
        if (fail_read) return fail("read refused");
        return std::optional<Bytes>(it->second);
    }
    Status write_file_flushed(const std::string& path, ByteView data) override {
        if (before_write) before_write(path);
        std::lock_guard lock(mutex_);
        if (fail_write) return fail("write refused");
        files[path] = Bytes(data.begin(), data.end());
        return {};
    }
    Status rename_replace(const std::string& from, const std::string& to) override {
        std::lock_guard lock(mutex_);
        auto it = files.find(from);
        if (fail_rename || it == files.end()) return fail("rename refused");
        files[to] = std::move(it->second);
        files.erase(it);
        return {};
    }
    Status create_directories(const std::string&) override {
        if (fail_mkdir) return fail("mkdir refused");
        return {};
    }
    std::string text(const std::string& path) const {
        std::lock_guard lock(mutex_);
        const Bytes& b = files.at(path);
        return {b.begin(), b.end()};
    }
    bool exists(const std::string& path) const {
        std::lock_guard lock(mutex_);
        return files.contains(path);
    }

private:
    mutable std::mutex mutex_;
};

// Reversible stand-in for DPAPI: xor with a byte, with switches to fail.
class FakeProtector final : public SecretProtector {
public:
    bool fail_protect = false, fail_unprotect = false;
    std::uint8_t mask = 0x5A;
    Result<Bytes> protect(ByteView plain) override {
        if (fail_protect) return fail("protect refused (0x80070005)");
        return apply(plain);
    }
    Result<Bytes> unprotect(ByteView sealed) override {
        if (fail_unprotect) return fail("unprotect refused");
        return apply(sealed);
    }

private:
    Bytes apply(ByteView in) const {
        Bytes out(in.begin(), in.end());
        for (auto& b : out) b ^= mask;
        return out;
    }
};

inline Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

}  // namespace korvex::test
