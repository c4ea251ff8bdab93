#pragma once
// The mDNS / DNS-SD responder: registers the host's service and withdraws it.
// Only the discovery task calls it, one call at a time.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/error.h"
#include "core/ip_address.h"

namespace korvex {

struct ServiceInfo {
    std::string service_type;          // "_korvex._tcp.local."
    std::string instance_name;         // the display name, unchanged
    std::string host_name;             // "Office-PC--2.local."
    std::vector<IpAddress> addresses;  // sorted
    std::uint16_t port = 0;
    std::vector<std::pair<std::string, std::string>> properties;  // TXT, in this order

    // "<instance>.<type>": the name the registration is withdrawn by.
    std::string full_name() const { return instance_name + "." + service_type; }

    bool operator==(const ServiceInfo&) const = default;
};

class ServiceAdvertiser {
public:
    virtual ~ServiceAdvertiser() = default;
    // Hands the service to the responder. An error (a name or property the
    // responder refuses, a responder that is not running) means nothing was
    // registered.
    virtual Status register_service(const ServiceInfo& service) = 0;
    // Asks the responder to withdraw a registration by its full name.
    virtual void unregister_service(const std::string& full_name) = 0;
    // True once the responder has reported, after the registration was
    // accepted, that it failed or was lost (a name conflict, a responder
    // restart); the next cycle registers again.
    virtual bool registration_failed(const std::string& full_name) = 0;
};

// Starts this OS's responder; an error means the host runs unadvertised.
Result<std::unique_ptr<ServiceAdvertiser>> start_os_service_advertiser();

}  // namespace korvex
