#include "core/data_files.h"

#include "platform/environment.h"
#include "platform/file_system.h"

namespace korvex {

std::string join_path(std::string_view dir, std::string_view name, char separator) {
    std::string out(dir);
    if (!out.empty() && out.back() != separator && out.back() != '/') out.push_back(separator);
    out.append(name);
    return out;
}

std::string data_dir(const Environment& env, char separator) {
    if (auto dir = env.get("RC_DATA_DIR")) return *dir;
    if (auto appdata = env.get("APPDATA")) return join_path(*appdata, kDataFolderName, separator);
    if (auto xdg = env.get("XDG_CONFIG_HOME"); xdg && !xdg->empty()) return join_path(*xdg, kDataFolderName, separator);
    std::string home = env.get("HOME").value_or(".");
    return join_path(join_path(home, ".config", separator), kDataFolderName, separator);
}

std::string with_extension(std::string_view path, std::string_view ext) {
    std::size_t name_start = path.find_last_of("/\\");
    name_start = name_start == std::string_view::npos ? 0 : name_start + 1;
    std::string_view name = path.substr(name_start);
    std::size_t dot = name.rfind('.');
    // A leading dot starts a hidden name, not an extension; "." and ".." have none either.
    bool has_extension = dot != std::string_view::npos && dot > 0 && name != "..";
    std::string out(path.substr(0, has_extension ? name_start + dot : path.size()));
    if (name.empty()) return out;
    out.push_back('.');
    out.append(ext);
    return out;
}

Status write_atomically(FileSystem& fs, const std::string& path, ByteView data) {
    std::string tmp = with_extension(path, "tmp");
    if (auto written = fs.write_file_flushed(tmp, data); !written) return written;
    return fs.rename_replace(tmp, path);
}

}  // namespace korvex
