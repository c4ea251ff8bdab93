#pragma once
// Where the host keeps its files and how it replaces them.
#include <string>
#include <string_view>

#include "core/bytes.h"
#include "core/error.h"

namespace korvex {

class Environment;
class FileSystem;

inline constexpr std::string_view kIdentityFileName = "host_identity.bin";
inline constexpr std::string_view kStoreFileName = "paired_devices.json";
inline constexpr std::string_view kMappingFileName = "gamepad_mapping.json";
// The data folder's own name under APPDATA or the configuration folder.
inline constexpr std::string_view kDataFolderName = "Korvex";

// RC_DATA_DIR as given (empty means the working directory), else
// APPDATA/Korvex, else HOME (or ".")/.config/Korvex. Never touches the disk.
std::string data_dir(const Environment& env, char separator);

// `dir` joined with `name`; an empty `dir` gives `name` alone.
std::string join_path(std::string_view dir, std::string_view name, char separator);

// The path with the extension of its last component replaced by `ext`, or
// `ext` appended when it has none: "a/host_identity.bin" -> "a/host_identity.tmp".
std::string with_extension(std::string_view path, std::string_view ext);

// Writes the sibling ".tmp" file, flushed to disk, then renames it over
// `path`. A leftover temporary file after a failure is not removed.
Status write_atomically(FileSystem& fs, const std::string& path, ByteView data);

}  // namespace korvex
