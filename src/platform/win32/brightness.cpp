#include "platform/win32/brightness.h"

#include <windows.h>
// COM and WMI, which the lean windows.h leaves out.
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <optional>
#include <system_error>
#include <utility>

#include "core/input_commands.h"

namespace korvex::win32 {
namespace {

// A COM interface pointer released on destruction.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() { reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For the out-parameter of a call; releases what was held.
    T** out() {
        reset();
        return &p_;
    }
    void** out_void() { return reinterpret_cast<void**>(out()); }
    void reset() {
        if (p_ != nullptr) std::exchange(p_, nullptr)->Release();
    }

private:
    T* p_ = nullptr;
};

class Bstr {
public:
    explicit Bstr(const wchar_t* text) : b_(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return b_; }

private:
    BSTR b_;
};

class Variant {
public:
    Variant() { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* get() { return &v_; }
    VARIANT* out() {
        VariantClear(&v_);
        return &v_;
    }

private:
    VARIANT v_;
};

// How long one enumeration step may wait for the WMI service.
constexpr long kWmiWaitMs = 5000;
// The method's own time-out argument, in seconds.
constexpr LONG kSetTimeoutSeconds = 1;

class WmiBrightness final : public BrightnessChanger {
public:
    // S_FALSE (already initialised) counts too: every success is paired
    // with CoUninitialize.
    WmiBrightness() : com_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}

    ~WmiBrightness() override {
        services_.reset();
        if (com_) CoUninitialize();
    }

    void change(int steps) override {
        if (!com_ || steps == 0) return;
        if (!services_ && !connect()) return;
        bool failed = false;
        std::optional<std::uint32_t> current = current_level(failed);
        // A failed query may be a restarted WMI service: connect afresh next time.
        if (failed) services_.reset();
        if (!current) return;  // no monitor reports a level
        set_level(brightness_after(*current, steps));
    }

private:
    bool connect() {
        ComRef<IWbemLocator> locator;
        if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                    locator.out_void())))
            return false;
        if (FAILED(locator->ConnectServer(Bstr(L"ROOT\\WMI"), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                          services_.out())))
            return false;
        // WMI refuses the default identify level: impersonate on this proxy.
        if (FAILED(CoSetProxyBlanket(services_.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                     RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE))) {
            services_.reset();
            return false;
        }
        return true;
    }

    bool query(const wchar_t* wql, ComRef<IEnumWbemClassObject>& rows) {
        return SUCCEEDED(services_->ExecQuery(Bstr(L"WQL"), Bstr(wql),
                                              WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                              rows.out()));
    }

    // The next row, or false at the end (or on a failure or time-out).
    static bool next(IEnumWbemClassObject& rows, ComRef<IWbemClassObject>& row) {
        ULONG got = 0;
        return rows.Next(kWmiWaitMs, 1, row.out(), &got) == WBEM_S_NO_ERROR && got == 1;
    }

    std::optional<std::uint32_t> current_level(bool& failed) {
        ComRef<IEnumWbemClassObject> rows;
        if (!query(L"SELECT CurrentBrightness FROM WmiMonitorBrightness", rows)) {
            failed = true;
            return std::nullopt;
        }
        ComRef<IWbemClassObject> row;
        while (next(*rows.get(), row)) {
            Variant value, level;
            if (FAILED(row->Get(L"CurrentBrightness", 0, value.get(), nullptr, nullptr))) continue;
            if (SUCCEEDED(VariantChangeType(level.get(), value.get(), 0, VT_UI4))) return level.get()->ulVal;
        }
        return std::nullopt;
    }

    void set_level(std::uint8_t level) {
        ComRef<IWbemClassObject> klass, signature, arguments;
        if (FAILED(services_->GetObject(Bstr(L"WmiMonitorBrightnessMethods"), 0, nullptr, klass.out(), nullptr)) ||
            FAILED(klass->GetMethod(L"WmiSetBrightness", 0, signature.out(), nullptr)) || !signature ||
            FAILED(signature->SpawnInstance(0, arguments.out())))
            return;
        Variant timeout, brightness;
        timeout.get()->vt = VT_I4;  // uint32 goes as VT_I4
        timeout.get()->lVal = kSetTimeoutSeconds;
        brightness.get()->vt = VT_UI1;
        brightness.get()->bVal = level;
        if (FAILED(arguments->Put(L"Timeout", 0, timeout.get(), 0)) ||
            FAILED(arguments->Put(L"Brightness", 0, brightness.get(), 0)))
            return;

        ComRef<IEnumWbemClassObject> rows;
        if (!query(L"SELECT * FROM WmiMonitorBrightnessMethods", rows)) return;
        ComRef<IWbemClassObject> row;
        const Bstr method(L"WmiSetBrightness");
        while (next(*rows.get(), row)) {
            Variant path;
            if (FAILED(row->Get(L"__PATH", 0, path.get(), nullptr, nullptr)) || path.get()->vt != VT_BSTR) continue;
            // One monitor refusing does not stop the others.
            (void)services_->ExecMethod(path.get()->bstrVal, method, 0, nullptr, arguments.get(), nullptr, nullptr);
        }
    }

    bool com_;
    ComRef<IWbemServices> services_;
};

}  // namespace

std::unique_ptr<BrightnessChanger> make_wmi_brightness_changer() { return std::make_unique<WmiBrightness>(); }

BrightnessWorker::~BrightnessWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void BrightnessWorker::press(bool up) {
    std::lock_guard lock(mutex_);
    pending_ = add_brightness_step(pending_, up);
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            pending_ = 0;
            return;
        }
    }
    wake_.notify_one();
}

void BrightnessWorker::run() {
    std::unique_ptr<BrightnessChanger> changer;  // lives and dies on this thread
    bool made = false;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || pending_ != 0; });
        if (stopping_) break;
        if (!made) {
            // Presses that come in meanwhile join the first change.
            made = true;
            lock.unlock();
            changer = factory_();
            lock.lock();
            continue;
        }
        const int steps = std::exchange(pending_, 0);
        lock.unlock();
        if (changer) changer->change(steps);
        lock.lock();
    }
    lock.unlock();
    changer.reset();
}

}  // namespace korvex::win32
