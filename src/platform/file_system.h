#pragma once
// File access the core needs, behind a seam: the real one per OS, and fakes in
// tests that fail a write or a rename on purpose. Paths are UTF-8 text.
#include <optional>
#include <string>

#include "core/bytes.h"
#include "core/error.h"

namespace korvex {

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // '\\' on Windows, '/' elsewhere.
    virtual char separator() const = 0;
    // The whole file; nothing when it does not exist; an error when it exists
    // but cannot be read.
    virtual Result<std::optional<Bytes>> read_file(const std::string& path) = 0;
    // Creates or truncates the file, writes every byte and flushes it to the
    // disk before returning, so a later rename never exposes a partial file.
    // Files are private to the user where the OS has such modes.
    virtual Status write_file_flushed(const std::string& path, ByteView data) = 0;
    // Renames, replacing any file at `to`.
    virtual Status rename_replace(const std::string& from, const std::string& to) = 0;
    // Creates the folder and its missing parents; an existing folder is fine.
    virtual Status create_directories(const std::string& path) = 0;
};

FileSystem& os_file_system();

}  // namespace korvex
