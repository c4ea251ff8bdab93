#pragma once
// The ViGEmBus client's Windows side: finding the bus device with
// the device-setup functions and sending each request as an overlapped
// DeviceIoControl. The functions come through a table so that tests can
// stand in for the driver.
#include <windows.h>

#include <setupapi.h>

#include <memory>

#include "platform/pad_bus.h"

namespace korvex::win32 {

// {96E42B22-F5E9-42F8-B043-ED0F932F014F}, the bus's device interface class.
inline constexpr GUID kViGEmBusInterfaceGuid = {
    0x96E42B22, 0xF5E9, 0x42F8, {0xB0, 0x43, 0xED, 0x0F, 0x93, 0x2F, 0x01, 0x4F}};

// The flags the device is opened with: FILE_ATTRIBUTE_NORMAL | FILE_FLAG_NO_BUFFERING |
// FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OVERLAPPED.
inline constexpr DWORD kPadDeviceFlags = 0xE0000080;
// Bytes given to SetupDiGetDeviceInterfaceDetailW.
inline constexpr DWORD kInterfaceDetailBufferSize = 3072;

struct PadBusApi {
    HDEVINFO(WINAPI* get_class_devs)(const GUID* class_guid, PCWSTR enumerator, HWND parent, DWORD flags) = nullptr;
    BOOL(WINAPI* enum_device_interfaces)
    (HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* class_guid, DWORD index,
     PSP_DEVICE_INTERFACE_DATA data) = nullptr;
    BOOL(WINAPI* get_device_interface_detail)
    (HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data, PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detail_size,
     PDWORD required_size, PSP_DEVINFO_DATA device) = nullptr;
    BOOL(WINAPI* destroy_device_info_list)(HDEVINFO set) = nullptr;
    HANDLE(WINAPI* create_file)
    (LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
     HANDLE template_file) = nullptr;
    BOOL(WINAPI* device_io_control)
    (HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size, LPDWORD returned,
     LPOVERLAPPED overlapped) = nullptr;
    BOOL(WINAPI* get_overlapped_result)
    (HANDLE device, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) = nullptr;
    BOOL(WINAPI* cancel_io_ex)(HANDLE device, LPOVERLAPPED overlapped) = nullptr;
    BOOL(WINAPI* close_handle)(HANDLE handle) = nullptr;  // the device handle only
};

// The system's functions (setupapi, kernel32).
PadBusApi os_pad_bus_api();

std::unique_ptr<PadBus> make_win32_pad_bus(PadBusApi api);

}  // namespace korvex::win32
