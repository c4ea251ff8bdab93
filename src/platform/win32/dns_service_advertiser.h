#pragma once
// The Windows DNS-SD responder (dnsapi's DnsServiceRegister family). The
// functions are looked up at run time: Windows before 10 and Wine lack them,
// which means the host runs unadvertised. Tests hand in their own table.
#include <windows.h>

#include <windns.h>

#include <chrono>
#include <memory>

#include "core/error.h"
#include "platform/service_advertiser.h"

namespace korvex::win32 {

struct DnsServiceApi {
    PDNS_SERVICE_INSTANCE(WINAPI* construct_instance)
    (PCWSTR service_name, PCWSTR host_name, PIP4_ADDRESS ip4, PIP6_ADDRESS ip6, WORD port, WORD priority, WORD weight,
     DWORD property_count, PCWSTR* keys, PCWSTR* values) = nullptr;
    VOID(WINAPI* free_instance)(PDNS_SERVICE_INSTANCE instance) = nullptr;
    DWORD(WINAPI* register_service)(PDNS_SERVICE_REGISTER_REQUEST request, PDNS_SERVICE_CANCEL cancel) = nullptr;
    DWORD(WINAPI* deregister_service)(PDNS_SERVICE_REGISTER_REQUEST request, PDNS_SERVICE_CANCEL cancel) = nullptr;
};

// The functions of System32's dnsapi.dll (which stays loaded); an error when
// any of them is missing.
Result<DnsServiceApi> load_dns_service_api();

// Registrations complete through callbacks on threads of the system's.
// `completion_wait` bounds how long a registration waits for the withdrawal
// of the one before it.
std::unique_ptr<ServiceAdvertiser> make_dns_service_advertiser(
    DnsServiceApi api, std::chrono::milliseconds completion_wait = std::chrono::seconds(5));

}  // namespace korvex::win32
