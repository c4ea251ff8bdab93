// DNS-SD registration on Windows. What the API imposes:
// - one IPv4 and one IPv6 address per registration: the first of each family
//   of the (sorted) list is advertised, the others are not;
// - the instance name in its full form, "NAME._korvex._tcp.local";
// - registration and withdrawal complete later, through a callback that gets
//   the request back. A withdrawal completing late can remove a newer
//   registration of the same name, so a new registration first waits until
//   every earlier withdrawal has completed.
//
// Every registration is a heap object handed to the system as the request's
// context. It is freed only once all callbacks it is owed have come (one for
// the registration, one more once withdrawn), by the advertiser or, after the
// advertiser is gone, by the last callback itself.
#include "platform/win32/dns_service_advertiser.h"

#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/win32_support.h"

namespace korvex::win32 {
namespace {

// Not in every SDK's headers.
constexpr DWORD kDnsRequestPending = 9506;

struct Shared {
    explicit Shared(DnsServiceApi a) : api(a) {}
    DnsServiceApi api;
    std::mutex mutex;
    std::condition_variable changed;
};

struct Registration {
    std::shared_ptr<Shared> shared;
    DNS_SERVICE_REGISTER_REQUEST request{};
    PDNS_SERVICE_INSTANCE instance = nullptr;
    // All under shared->mutex:
    int callbacks_due = 1;   // the registration's own completion
    bool completed = false;  // the registration's completion has come
    bool failed = false;     // ... and reported an error
    bool orphaned = false;  // the advertiser is gone: the last callback frees it

    ~Registration() {
        if (instance != nullptr) shared->api.free_instance(instance);
    }
};

VOID WINAPI on_complete(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE returned) {
    auto* registration = static_cast<Registration*>(context);
    std::shared_ptr<Shared> shared = registration->shared;
    if (returned != nullptr) shared->api.free_instance(returned);
    bool free_it = false;
    {
        std::lock_guard lock(shared->mutex);
        if (!registration->completed) {
            registration->completed = true;
            registration->failed = status != ERROR_SUCCESS;
        }
        --registration->callbacks_due;
        free_it = registration->orphaned && registration->callbacks_due == 0;
    }
    shared->changed.notify_all();
    if (free_it) delete registration;
}

std::wstring without_trailing_dot(std::wstring text) {
    if (!text.empty() && text.back() == L'.') text.pop_back();
    return text;
}

class DnsServiceAdvertiser final : public ServiceAdvertiser {
public:
    DnsServiceAdvertiser(DnsServiceApi api, std::chrono::milliseconds completion_wait)
        : shared_(std::make_shared<Shared>(api)), completion_wait_(completion_wait) {}

    DnsServiceAdvertiser(const DnsServiceAdvertiser&) = delete;
    DnsServiceAdvertiser& operator=(const DnsServiceAdvertiser&) = delete;

    ~DnsServiceAdvertiser() override {
        std::vector<std::string> names;
        {
            std::lock_guard lock(shared_->mutex);
            for (const auto& [name, registration] : active_) names.push_back(name);
        }
        for (const auto& name : names) unregister_service(name);
        std::unique_lock lock(shared_->mutex);
        shared_->changed.wait_for(lock, completion_wait_, [&] { return all_withdrawals_done(); });
        for (Registration* registration : withdrawing_) {
            if (registration->callbacks_due == 0)
                delete registration;
            else
                registration->orphaned = true;
        }
    }

    Status register_service(const ServiceInfo& service) override {
        auto instance_name = widen(service.full_name());
        auto host_name = widen(service.host_name);
        if (!instance_name || !host_name) return fail("the service name is not valid text");
        std::vector<std::wstring> keys, values;
        for (const auto& [key, value] : service.properties) {
            auto k = widen(key);
            auto v = widen(value);
            if (!k || !v) return fail("a TXT property is not valid text");
            keys.push_back(std::move(*k));
            values.push_back(std::move(*v));
        }
        std::vector<PCWSTR> key_ptrs, value_ptrs;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            key_ptrs.push_back(keys[i].c_str());
            value_ptrs.push_back(values[i].c_str());
        }
        // The API takes one address of each family.
        IP4_ADDRESS ip4{};
        IP6_ADDRESS ip6{};
        bool have4 = false, have6 = false;
        for (const IpAddress& address : service.addresses) {
            if (address.is_v4() && !have4) {
                auto bytes = address.v4_bytes();
                std::memcpy(&ip4, bytes.data(), bytes.size());
                have4 = true;
            } else if (address.is_v6() && !have6) {
                std::memcpy(&ip6, address.v6_bytes().data(), 16);
                have6 = true;
            }
        }

        // Only the discovery task calls in, so nothing registers between
        // these steps. The system's functions are called without the lock,
        // since their callbacks take it.
        unregister_service(service.full_name());
        {
            std::unique_lock lock(shared_->mutex);
            if (!shared_->changed.wait_for(lock, completion_wait_, [&] { return all_withdrawals_done(); }))
                return fail("an earlier registration is still being withdrawn");
            for (Registration* done : withdrawing_) delete done;
            withdrawing_.clear();
        }

        const std::wstring full = without_trailing_dot(*instance_name);
        const std::wstring host = without_trailing_dot(*host_name);
        PDNS_SERVICE_INSTANCE instance = shared_->api.construct_instance(
            full.c_str(), host.c_str(), have4 ? &ip4 : nullptr, have6 ? &ip6 : nullptr, service.port, 0, 0,
            static_cast<DWORD>(keys.size()), key_ptrs.data(), value_ptrs.data());
        if (instance == nullptr) return fail("the mDNS service was refused");

        auto registration = std::make_unique<Registration>();
        registration->shared = shared_;
        registration->instance = instance;
        registration->request.Version = DNS_QUERY_REQUEST_VERSION1;
        registration->request.InterfaceIndex = 0;
        registration->request.pServiceInstance = instance;
        registration->request.pRegisterCompletionCallback = &on_complete;
        registration->request.pQueryContext = registration.get();
        registration->request.hCredentials = nullptr;
        registration->request.unicastEnabled = FALSE;
        DWORD rc = shared_->api.register_service(&registration->request, nullptr);
        if (rc != kDnsRequestPending) return std::unexpected(win32_error("The mDNS registration was refused", rc));
        std::lock_guard lock(shared_->mutex);
        active_[service.full_name()] = registration.release();
        return {};
    }

    void unregister_service(const std::string& full_name) override {
        Registration* registration = nullptr;
        {
            std::lock_guard lock(shared_->mutex);
            auto it = active_.find(full_name);
            if (it == active_.end()) return;
            registration = it->second;
            active_.erase(it);
            ++registration->callbacks_due;
            withdrawing_.push_back(registration);
        }
        DWORD rc = shared_->api.deregister_service(&registration->request, nullptr);
        if (rc != kDnsRequestPending) {
            // No callback will come for it.
            std::lock_guard lock(shared_->mutex);
            --registration->callbacks_due;
        }
        shared_->changed.notify_all();
    }

    bool registration_failed(const std::string& full_name) override {
        std::lock_guard lock(shared_->mutex);
        auto it = active_.find(full_name);
        return it == active_.end() || (it->second->completed && it->second->failed);
    }

private:
    // Under the lock.
    bool all_withdrawals_done() const {
        for (const Registration* registration : withdrawing_)
            if (registration->callbacks_due != 0) return false;
        return true;
    }

    std::shared_ptr<Shared> shared_;
    std::chrono::milliseconds completion_wait_;
    std::map<std::string, Registration*> active_;
    std::vector<Registration*> withdrawing_;
};

struct LibraryDeleter {
    void operator()(HMODULE module) const noexcept { FreeLibrary(module); }
};

template <typename F>
bool resolve(HMODULE library, const char* name, F& out) {
    out = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    return out != nullptr;
}

}  // namespace

Result<DnsServiceApi> load_dns_service_api() {
    // From System32 only, never from the current or application folder.
    std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryDeleter> library(
        LoadLibraryExW(L"dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!library) return std::unexpected(win32_error("Could not load dnsapi.dll", GetLastError()));
    DnsServiceApi api;
    if (!resolve(library.get(), "DnsServiceConstructInstance", api.construct_instance) ||
        !resolve(library.get(), "DnsServiceFreeInstance", api.free_instance) ||
        !resolve(library.get(), "DnsServiceRegister", api.register_service) ||
        !resolve(library.get(), "DnsServiceDeRegister", api.deregister_service))
        return fail("This system's dnsapi.dll has no DNS-SD registration functions");
    // Kept loaded for the life of the process: callbacks may come at any time.
    library.release();
    return api;
}

std::unique_ptr<ServiceAdvertiser> make_dns_service_advertiser(DnsServiceApi api,
                                                               std::chrono::milliseconds completion_wait) {
    return std::make_unique<DnsServiceAdvertiser>(api, completion_wait);
}

}  // namespace korvex::win32

namespace korvex {

Result<std::unique_ptr<ServiceAdvertiser>> start_os_service_advertiser() {
    auto api = win32::load_dns_service_api();
    if (!api) return std::unexpected(api.error());
    return win32::make_dns_service_advertiser(*api);
}

}  // namespace korvex
