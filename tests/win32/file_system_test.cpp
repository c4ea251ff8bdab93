// The Windows file system seam on a real (Wine or Windows) file system.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/data_files.h"
#include "core/os_error.h"
#include "platform/file_system.h"
#include "support/fakes.h"
#include "win32/temp_folder.h"

namespace korvex {
namespace {

namespace fs = std::filesystem;
using test::bytes_of;
using test::TempFolder;

std::vector<std::wstring> names_in(const fs::path& folder) {
    std::vector<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().wstring());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Win32FileSystem, SeparatorIsBackslash) { EXPECT_EQ(os_file_system().separator(), '\\'); }

TEST(Win32FileSystem, WriteAtomicallyReplacesAndLeavesNoTemporaryFile) {
    TempFolder dir;
    FileSystem& files = os_file_system();
    std::string path = dir.utf8(L"paired_devices.json");

    ASSERT_TRUE(write_atomically(files, path, bytes_of("{\"old\":1}")));
    ASSERT_TRUE(write_atomically(files, path, bytes_of("{\"new\":2}")));

    auto read = files.read_file(path);
    ASSERT_TRUE(read) << read.error().text;
    ASSERT_TRUE(read->has_value());
    EXPECT_EQ(**read, bytes_of("{\"new\":2}"));
    EXPECT_EQ(names_in(dir.path()), std::vector<std::wstring>{L"paired_devices.json"});
}

TEST(Win32FileSystem, WriteReplacesALongerFileWhole) {
    TempFolder dir;
    FileSystem& files = os_file_system();
    std::string path = dir.utf8(L"a.bin");
    Bytes big(100000, 0xAB);
    ASSERT_TRUE(files.write_file_flushed(path, big));
    ASSERT_TRUE(files.write_file_flushed(path, bytes_of("short")));
    auto read = files.read_file(path);
    ASSERT_TRUE(read && read->has_value());
    EXPECT_EQ(**read, bytes_of("short"));
    EXPECT_EQ(fs::file_size(dir.path() / L"a.bin"), 5u);
}

TEST(Win32FileSystem, ReadOfAMissingFileIsEmpty) {
    TempFolder dir;
    auto missing = os_file_system().read_file(dir.utf8(L"nothing.bin"));
    ASSERT_TRUE(missing) << missing.error().text;
    EXPECT_FALSE(missing->has_value());

    auto missing_folder = os_file_system().read_file(dir.utf8(L"no-folder\\nothing.bin"));
    ASSERT_TRUE(missing_folder) << missing_folder.error().text;
    EXPECT_FALSE(missing_folder->has_value());
}

TEST(Win32FileSystem, EmptyFileReadsAsEmptyBytes) {
    TempFolder dir;
    std::string path = dir.utf8(L"empty.bin");
    ASSERT_TRUE(os_file_system().write_file_flushed(path, Bytes{}));
    auto read = os_file_system().read_file(path);
    ASSERT_TRUE(read && read->has_value());
    EXPECT_TRUE((*read)->empty());
}

TEST(Win32FileSystem, ReadingAFolderFailsWithTheCodeInTheText) {
    TempFolder dir;
    auto read = os_file_system().read_file(dir.utf8());
    ASSERT_FALSE(read);
    const Error& e = read.error();
    EXPECT_EQ(e.os_code & 0xFFFF0000u, 0x80070000u);
    std::string tail = " (";
    tail += os_code_text(e.os_code);
    tail += ')';
    EXPECT_TRUE(e.text.ends_with(tail)) << e.text;
    EXPECT_EQ(e.text.rfind("Cannot open ", 0), 0u) << e.text;
}

TEST(Win32FileSystem, CreateDirectoriesMakesEveryMissingParent) {
    TempFolder dir;
    FileSystem& files = os_file_system();
    std::string nested = dir.utf8() + "\\a\\b/c\\\\d\\";
    ASSERT_TRUE(files.create_directories(nested));
    EXPECT_TRUE(fs::is_directory(dir.path() / L"a" / L"b" / L"c" / L"d"));
    // Existing folders are fine, drive roots included.
    EXPECT_TRUE(files.create_directories(nested));
    EXPECT_TRUE(files.create_directories(dir.utf8()));
    EXPECT_TRUE(files.create_directories("C:\\"));
    EXPECT_TRUE(files.create_directories("C:/"));
}

TEST(Win32FileSystem, CreateDirectoriesRefusesAFileInTheWay) {
    TempFolder dir;
    FileSystem& files = os_file_system();
    ASSERT_TRUE(files.write_file_flushed(dir.utf8(L"plain"), bytes_of("x")));
    auto made = files.create_directories(dir.utf8(L"plain\\sub"));
    ASSERT_FALSE(made);
    EXPECT_NE(made.error().os_code, 0u);
    EXPECT_FALSE(fs::exists(dir.path() / L"plain" / L"sub"));
}

TEST(Win32FileSystem, NonAsciiPaths) {
    TempFolder dir;
    FileSystem& files = os_file_system();
    // "Prüfung-日本" and "données-✓.bin" in UTF-8.
    std::string folder = dir.utf8() + "\\Pr\xc3\xbc" "fung-\xe6\x97\xa5\xe6\x9c\xac";
    std::string file = folder + "\\donn\xc3\xa9" "es-\xe2\x9c\x93.bin";
    ASSERT_TRUE(files.create_directories(folder));
    ASSERT_TRUE(write_atomically(files, file, bytes_of("caf\xc3\xa9")));

    auto read = files.read_file(file);
    ASSERT_TRUE(read && read->has_value());
    EXPECT_EQ(**read, bytes_of("caf\xc3\xa9"));
    // The names reached the file system as the same characters, not as bytes.
    fs::path wide = dir.path() / L"Pr\u00fc" L"fung-\u65e5\u672c" / L"donn\u00e9" L"es-\u2713.bin";
    EXPECT_TRUE(fs::is_regular_file(wide));
    EXPECT_EQ(names_in(wide.parent_path()), std::vector<std::wstring>{L"donn\u00e9" L"es-\u2713.bin"});
}

TEST(Win32FileSystem, InvalidUtf8PathIsRefused) {
    TempFolder dir;
    std::string bad = dir.utf8() + "\\bad-\xff.bin";
    EXPECT_FALSE(os_file_system().write_file_flushed(bad, bytes_of("x")));
    EXPECT_FALSE(os_file_system().read_file(bad));
    EXPECT_FALSE(os_file_system().create_directories(bad));
}

TEST(Win32FileSystem, RenameOfAMissingFileFails) {
    TempFolder dir;
    auto renamed = os_file_system().rename_replace(dir.utf8(L"none.tmp"), dir.utf8(L"none.bin"));
    ASSERT_FALSE(renamed);
    EXPECT_EQ(renamed.error().os_code, 0x80070002u);
    EXPECT_TRUE(renamed.error().text.ends_with("(0x80070002)")) << renamed.error().text;
}

}  // namespace
}  // namespace korvex
