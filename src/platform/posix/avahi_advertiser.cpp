// The mDNS responder on Linux is the system's avahi-daemon, reached through
// its client library. The client runs on a threaded poll of its own; every
// call from outside takes that poll's lock, and the callbacks run with it
// held. One entry group per registration: the service, its TXT properties and
// the address records of its host name.
#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>

#include <cstring>
#include <map>
#include <string>

#include "platform/service_advertiser.h"

namespace korvex {
namespace {

Error avahi_error(const std::string& context, int code) {
    return Error{context + ": " + avahi_strerror(code), static_cast<std::uint32_t>(-code)};
}

std::string without_trailing_dot(std::string text) {
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

struct StringListFree {
    void operator()(AvahiStringList* list) const noexcept { avahi_string_list_free(list); }
};

class AvahiAdvertiser final : public ServiceAdvertiser {
public:
    AvahiAdvertiser() = default;
    AvahiAdvertiser(const AvahiAdvertiser&) = delete;
    AvahiAdvertiser& operator=(const AvahiAdvertiser&) = delete;

    ~AvahiAdvertiser() override {
        if (poll_ != nullptr) avahi_threaded_poll_stop(poll_);
        // Freeing the client frees its entry groups, withdrawing them.
        if (client_ != nullptr) avahi_client_free(client_);
        if (poll_ != nullptr) avahi_threaded_poll_free(poll_);
    }

    Status start() {
        poll_ = avahi_threaded_poll_new();
        if (poll_ == nullptr) return fail("Could not create the mDNS client's event loop");
        int error = 0;
        // NO_FAIL: a daemon that is not there yet (or restarts) is waited
        // for; registrations fail meanwhile and are retried by the next cycle.
        client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AVAHI_CLIENT_NO_FAIL, &AvahiAdvertiser::on_client,
                                   this, &error);
        if (client_ == nullptr) return std::unexpected(avahi_error("Could not start the mDNS client", error));
        if (avahi_threaded_poll_start(poll_) < 0) return fail("Could not start the mDNS client's thread");
        return {};
    }

    Status register_service(const ServiceInfo& service) override {
        Lock lock(poll_);
        if (client_state_ != AVAHI_CLIENT_S_RUNNING) return fail("the mDNS daemon is not running");

        // "_korvex._tcp.local." is type "_korvex._tcp" in domain "local".
        std::string type = without_trailing_dot(service.service_type);
        std::string domain;
        std::size_t second_dot = type.find('.', type.find('.') + 1);
        if (second_dot != std::string::npos) {
            domain = type.substr(second_dot + 1);
            type.resize(second_dot);
        }
        const std::string host = without_trailing_dot(service.host_name);
        const std::string full_name = service.full_name();
        // A registration under the same name would collide with the new one.
        if (auto old = groups_.find(full_name); old != groups_.end()) {
            avahi_entry_group_free(old->second.group);
            groups_.erase(old);
        }

        std::unique_ptr<AvahiStringList, StringListFree> txt;
        for (auto it = service.properties.rbegin(); it != service.properties.rend(); ++it) {
            // Prepends: walking backwards keeps the given order.
            txt.reset(avahi_string_list_add_pair(txt.release(), it->first.c_str(), it->second.c_str()));
            if (!txt) return fail("out of memory building the TXT properties");
        }

        AvahiEntryGroup* group = avahi_entry_group_new(client_, &AvahiAdvertiser::on_group, this);
        if (group == nullptr)
            return std::unexpected(avahi_error("Could not create an mDNS entry group", avahi_client_errno(client_)));
        struct GroupGuard {
            AvahiEntryGroup* group;
            ~GroupGuard() {
                if (group != nullptr) avahi_entry_group_free(group);
            }
        } guard{group};

        int rc = avahi_entry_group_add_service_strlst(
            group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), service.instance_name.c_str(),
            type.c_str(), domain.empty() ? nullptr : domain.c_str(), host.c_str(), service.port, txt.get());
        if (rc < 0) return std::unexpected(avahi_error("The mDNS service was refused", rc));

        // The daemon already answers for its own host name; records of ours
        // under that name would collide with its own.
        const char* own_host = avahi_client_get_host_name_fqdn(client_);
        if (own_host == nullptr || !equal_ignoring_case(host, own_host)) {
            for (const IpAddress& address : service.addresses) {
                AvahiAddress a{};
                if (address.is_v4()) {
                    a.proto = AVAHI_PROTO_INET;
                    auto bytes = address.v4_bytes();
                    std::memcpy(&a.data.ipv4.address, bytes.data(), bytes.size());
                } else {
                    a.proto = AVAHI_PROTO_INET6;
                    std::memcpy(a.data.ipv6.address, address.v6_bytes().data(), 16);
                }
                // No reverse entries: the daemon's own PTR records for these
                // addresses already name the machine.
                rc = avahi_entry_group_add_address(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AVAHI_PUBLISH_NO_REVERSE,
                                                   host.c_str(), &a);
                if (rc < 0)
                    return std::unexpected(avahi_error("The address " + address.to_string() + " was refused", rc));
            }
        }

        rc = avahi_entry_group_commit(group);
        if (rc < 0) return std::unexpected(avahi_error("The mDNS registration was refused", rc));

        groups_[full_name] = Registration{guard.group, false};
        guard.group = nullptr;
        return {};
    }

    void unregister_service(const std::string& full_name) override {
        Lock lock(poll_);
        auto it = groups_.find(full_name);
        if (it == groups_.end()) return;
        avahi_entry_group_free(it->second.group);
        groups_.erase(it);
    }

    bool registration_failed(const std::string& full_name) override {
        Lock lock(poll_);
        auto it = groups_.find(full_name);
        return it == groups_.end() || it->second.failed;
    }

private:
    struct Lock {
        explicit Lock(AvahiThreadedPoll* p) : poll(p) { avahi_threaded_poll_lock(poll); }
        ~Lock() { avahi_threaded_poll_unlock(poll); }
        AvahiThreadedPoll* poll;
    };
    struct Registration {
        AvahiEntryGroup* group = nullptr;
        bool failed = false;
    };

    // Both callbacks run with the poll's lock held (on its thread, or inside
    // one of our calls).
    static void on_client(AvahiClient*, AvahiClientState state, void* self_ptr) {
        auto* self = static_cast<AvahiAdvertiser*>(self_ptr);
        self->client_state_ = state;
        // Lost daemon or a host-name change: whatever was registered is gone.
        if (state != AVAHI_CLIENT_S_RUNNING)
            for (auto& [name, registration] : self->groups_) registration.failed = true;
    }

    static void on_group(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self_ptr) {
        if (state != AVAHI_ENTRY_GROUP_COLLISION && state != AVAHI_ENTRY_GROUP_FAILURE) return;
        auto* self = static_cast<AvahiAdvertiser*>(self_ptr);
        for (auto& [name, registration] : self->groups_)
            if (registration.group == group) registration.failed = true;
    }

    AvahiThreadedPoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
    AvahiClientState client_state_ = AVAHI_CLIENT_CONNECTING;
    std::map<std::string, Registration> groups_;
};

}  // namespace

Result<std::unique_ptr<ServiceAdvertiser>> start_os_service_advertiser() {
    auto advertiser = std::make_unique<AvahiAdvertiser>();
    if (auto started = advertiser->start(); !started) return std::unexpected(started.error());
    return std::unique_ptr<ServiceAdvertiser>(std::move(advertiser));
}

}  // namespace korvex
