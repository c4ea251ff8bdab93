# Every dependency comes from the system (native build) or from the cross
# prefix built by scripts/deps-windows.sh (Windows build); nothing is vendored.

if(WIN32)
  if(NOT KORVEX_WIN_DEPS)
    message(FATAL_ERROR "Set KORVEX_WIN_DEPS to the prefix made by scripts/deps-windows.sh")
  endif()
  list(APPEND CMAKE_FIND_ROOT_PATH "${KORVEX_WIN_DEPS}")
  set(GTest_DIR "${KORVEX_WIN_DEPS}/lib/cmake/GTest" CACHE PATH "")
  # Header-only libraries are shared with the host system: add only their own
  # folders, never /usr/include itself.
  add_library(korvex_headers INTERFACE)
  target_include_directories(korvex_headers SYSTEM INTERFACE "${KORVEX_WIN_DEPS}/host-headers")
  find_library(SODIUM_LIBRARY NAMES sodium libsodium PATHS "${KORVEX_WIN_DEPS}/lib" NO_DEFAULT_PATH REQUIRED)
  find_library(QRENCODE_LIBRARY NAMES qrencode PATHS "${KORVEX_WIN_DEPS}/lib" NO_DEFAULT_PATH REQUIRED)
  set(SODIUM_INCLUDE_DIR "${KORVEX_WIN_DEPS}/include")
  set(QRENCODE_INCLUDE_DIR "${KORVEX_WIN_DEPS}/include")
  add_library(korvex_sodium INTERFACE)
  target_include_directories(korvex_sodium SYSTEM INTERFACE "${SODIUM_INCLUDE_DIR}")
  target_compile_definitions(korvex_sodium INTERFACE SODIUM_STATIC)
  target_link_libraries(korvex_sodium INTERFACE "${SODIUM_LIBRARY}")
  add_library(korvex_qrencode INTERFACE)
  target_include_directories(korvex_qrencode SYSTEM INTERFACE "${QRENCODE_INCLUDE_DIR}")
  target_link_libraries(korvex_qrencode INTERFACE "${QRENCODE_LIBRARY}")
  add_library(korvex_asio INTERFACE)
  # Asio takes its thread class from pthreads when <pthread.h> came before
  # its headers and from Win32 otherwise, so translation units disagreed on
  # the io_context's timer thread: one made it with pthread_create and
  # another joined and closed its pthread_t as a HANDLE (closing standard
  # output, say). One choice everywhere: the pthreads std::thread uses too.
  target_compile_definitions(korvex_asio INTERFACE ASIO_STANDALONE _WIN32_WINNT=0x0A00 ASIO_HAS_PTHREADS=1)
  target_link_libraries(korvex_asio INTERFACE korvex_headers ws2_32 mswsock)
  add_library(korvex_json INTERFACE)
  target_link_libraries(korvex_json INTERFACE korvex_headers)
  # One self-contained executable: Wine and users need no MinGW runtime DLLs.
  add_link_options(-static -Wl,--dynamicbase -Wl,--nxcompat)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
  pkg_check_modules(QRENCODE REQUIRED IMPORTED_TARGET libqrencode)
  add_library(korvex_sodium INTERFACE)
  target_link_libraries(korvex_sodium INTERFACE PkgConfig::SODIUM)
  add_library(korvex_qrencode INTERFACE)
  target_link_libraries(korvex_qrencode INTERFACE PkgConfig::QRENCODE)
  find_package(nlohmann_json 3.10 REQUIRED)
  add_library(korvex_json INTERFACE)
  target_link_libraries(korvex_json INTERFACE nlohmann_json::nlohmann_json)
  find_package(Threads REQUIRED)
  add_library(korvex_asio INTERFACE)
  target_compile_definitions(korvex_asio INTERFACE ASIO_STANDALONE)
  target_link_libraries(korvex_asio INTERFACE Threads::Threads)
endif()
# Asio picks aligned_alloc/free or operator new/delete for its recycled
# memory by a libstdc++ macro that only some of its headers' includers have
# seen, so one translation unit may free with std::free what another got from
# operator new. Harmless while operator new is malloc; one choice everywhere
# keeps it so (and is what the Windows build gets anyway).
target_compile_definitions(korvex_asio INTERFACE ASIO_DISABLE_STD_ALIGNED_ALLOC)

if(KORVEX_TESTS)
  find_package(GTest REQUIRED)
endif()
