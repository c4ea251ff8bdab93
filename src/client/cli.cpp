#include "client/cli.h"

#include <algorithm>
#include <asio/ip/host_name.hpp>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <istream>
#include <map>
#include <ostream>

#include "client/config.h"
#include "client/connection.h"
#include "client/datagram_sender.h"
#include "client/events.h"
#include "client/sequence.h"
#include "client/text_messages.h"
#include "core/datagram.h"
#include "core/host_core.h"
#include "core/json.h"
#include "core/key_vocabulary.h"
#include "core/terminal_text.h"
#include "core/utf8.h"
#include "korvex_version.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/random_source.h"

namespace korvex::client {
namespace {

using Command = CliRequest::Command;
constexpr std::string_view kDeviceModel = "korvex-remote";
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// ---- parsing ----

struct RawArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::string, std::less<>> values;  // --name value
    std::map<std::string, bool, std::less<>> flags;          // --udp
};

constexpr std::string_view kValueOptions[] = {"--host", "--port", "--name", "--timeout", "--code", "--mods"};
constexpr std::string_view kFlagOptions[] = {"--udp", "--paste", "--help", "--version"};
// The commands that send input events, the only ones --udp applies to.
constexpr std::string_view kEventCommands[] = {"key",  "move", "click", "scroll",  "media",
                                               "edit", "lock", "cad",   "shortcut", "release"};
// What type - and clip - read from standard input at most.
constexpr std::size_t kMaxStdinText = std::size_t{16} << 20;

bool looks_like_number(std::string_view arg) {
    return arg.size() >= 2 && arg[0] == '-' && ((arg[1] >= '0' && arg[1] <= '9') || arg[1] == '.');
}

Result<RawArgs> split_arguments(std::span<const std::string> args) {
    RawArgs raw;
    bool options_done = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (options_done || arg.empty() || arg[0] != '-' || arg == "-" || looks_like_number(arg)) {
            raw.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        if (arg == "-h") {
            raw.flags["--help"] = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> inline_value;
        if (auto eq = arg.find('='); eq != std::string::npos) {
            name = arg.substr(0, eq);
            inline_value = arg.substr(eq + 1);
        }
        bool is_value = std::find(std::begin(kValueOptions), std::end(kValueOptions), name) != std::end(kValueOptions);
        bool is_flag = std::find(std::begin(kFlagOptions), std::end(kFlagOptions), name) != std::end(kFlagOptions);
        if (!is_value && !is_flag) return fail("unknown option " + name);
        if (is_flag) {
            if (inline_value) return fail(name + " takes no value");
            raw.flags[name] = true;
            continue;
        }
        if (raw.values.contains(name)) return fail(name + " is given twice");
        if (inline_value) {
            raw.values[name] = *inline_value;
        } else {
            if (i + 1 >= args.size()) return fail(name + " needs a value");
            raw.values[name] = args[++i];
        }
    }
    return raw;
}

Result<float> parse_float(std::string_view text, std::string_view what) {
    float value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return fail(std::string(what) + " must be a number, not \"" + std::string(text) + "\"");
    return value;
}

// Waiting is counted in whole milliseconds, so 0.001 s is the shortest wait.
Result<std::chrono::milliseconds> parse_timeout(std::string_view text) {
    KORVEX_TRY(float seconds, parse_float(text, "--timeout"));
    if (seconds < 0.001f || seconds > 3600)
        return fail("--timeout takes seconds from 0.001 to 3600, not \"" + std::string(text) + "\"");
    auto ms = static_cast<std::int64_t>(std::ceil(seconds * 1000.0f));
    return std::chrono::milliseconds(ms);
}

std::string command_names(std::span<const NamedCommand> table) {
    std::string out;
    for (const auto& c : table) out += (out.empty() ? "" : ", ") + std::string(c.name);
    return out;
}

// A list for the right-hand column of the help text, broken at commas.
std::string wrapped(const std::string& list) {
    constexpr std::size_t kColumn = 33, kWidth = 92;
    std::string out, line;
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t end = list.find(", ", start);
        std::string item = list.substr(start, end == std::string::npos ? std::string::npos : end - start + 1);
        start = end == std::string::npos ? list.size() : end + 2;
        if (!line.empty() && kColumn + line.size() + 1 + item.size() > kWidth) {
            out += line + "\n" + std::string(kColumn, ' ');
            line.clear();
        }
        line += (line.empty() ? "" : " ") + item;
    }
    return out + line + "\n";
}

bool is_event_command(std::string_view name) {
    return std::find(std::begin(kEventCommands), std::end(kEventCommands), name) != std::end(kEventCommands);
}

std::string event_command_list() {
    std::string out;
    for (std::string_view name : kEventCommands) out += (out.empty() ? "" : ", ") + std::string(name);
    return out;
}

bool all_digits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The code as the host shows it ("824 329"), with a dash ("824-329") or
// run together ("824329"): its six digits, or nothing.
std::optional<std::string> pairing_code_digits(std::string_view text) {
    if (text.size() == 7 && (text[3] == ' ' || text[3] == '-') && all_digits(text.substr(0, 3)) &&
        all_digits(text.substr(4)))
        return std::string(text.substr(0, 3)) + std::string(text.substr(4));
    if (text.size() == 6 && all_digits(text)) return std::string(text);
    return std::nullopt;
}

Status expect_arguments(const CliRequest& r, const std::vector<std::string>& args, std::size_t min, std::size_t max,
                        std::string_view usage) {
    if (args.size() < min || args.size() > max)
        return fail("usage: korvex-remote " + r.name + (usage.empty() ? "" : " ") + std::string(usage));
    return {};
}

Result<std::vector<InputEvent>> parse_events(const std::string& name, const std::vector<std::string>& args,
                                             const RawArgs& raw, CliRequest& r) {
    ModifierMask mods = 0;
    if (auto it = raw.values.find("--mods"); it != raw.values.end()) {
        if (name != "key" && name != "click") return fail("--mods applies to key and click only");
        auto parsed = parse_modifiers(it->second);
        if (!parsed) return fail("unknown modifier in \"" + it->second + "\" (use ctrl, shift, alt, win)");
        mods = *parsed;
    }
    std::vector<InputEvent> events;
    if (name == "key") {
        if (auto ok = expect_arguments(r, args, 1, 1, "NAME [--mods ctrl,shift,alt,win]"); !ok)
            return std::unexpected(ok.error());
        auto usage = parse_key_name(args[0]);
        if (!usage) return fail("unknown key name \"" + args[0] + "\" (\"korvex-remote keys\" lists them)");
        events.push_back(key_event(*usage, KeyAction::Down, mods));
        events.push_back(key_event(*usage, KeyAction::Up, mods));
    } else if (name == "move") {
        if (auto ok = expect_arguments(r, args, 2, 2, "DX DY"); !ok) return std::unexpected(ok.error());
        KORVEX_TRY(float dx, parse_float(args[0], "DX"));
        KORVEX_TRY(float dy, parse_float(args[1], "DY"));
        events.push_back(pointer_move_event(dx, dy));
    } else if (name == "click") {
        if (auto ok = expect_arguments(r, args, 0, 1, "[left|right|middle]"); !ok) return std::unexpected(ok.error());
        MouseButton button = MouseButton::Left;
        if (!args.empty()) {
            auto parsed = parse_mouse_button(args[0]);
            if (!parsed) return fail("unknown mouse button \"" + args[0] + "\" (left, right or middle)");
            button = *parsed;
        }
        events.push_back(mouse_button_event(button, true, mods));
        events.push_back(mouse_button_event(button, false, mods));
    } else if (name == "scroll") {
        if (auto ok = expect_arguments(r, args, 1, 1, "DY"); !ok) return std::unexpected(ok.error());
        KORVEX_TRY(float dy, parse_float(args[0], "DY"));
        events.push_back(scroll_event(0.0f, dy));
    } else if (name == "media" || name == "edit" || name == "shortcut") {
        auto table = name == "media" ? media_commands() : name == "edit" ? edit_commands() : desktop_shortcuts();
        if (auto ok = expect_arguments(r, args, 1, 1, "NAME"); !ok) return std::unexpected(ok.error());
        auto number = find_command(table, args[0]);
        if (!number) return fail("unknown " + name + " name \"" + args[0] + "\" (" + command_names(table) + ")");
        if (name == "media")
            events.push_back(media_event(*number));
        else if (name == "edit")
            events.push_back(edit_command_event(*number));
        else
            events.push_back(desktop_shortcut_event(*number));
        r.wait_sas_result = name == "edit" && *number == kEditCtrlAltDel;
    } else if (name == "lock" || name == "cad") {
        if (auto ok = expect_arguments(r, args, 0, 0, ""); !ok) return std::unexpected(ok.error());
        events.push_back(edit_command_event(name == "lock" ? kEditLock : kEditCtrlAltDel));
        r.wait_sas_result = name == "cad";
    } else if (name == "release") {
        if (auto ok = expect_arguments(r, args, 0, 0, ""); !ok) return std::unexpected(ok.error());
        events.push_back(release_all_event());
    }
    return events;
}

// "h:p" and "[v6]:p" name a port; "h", "[v6]" and a bare IPv6 address do not.
bool names_port(std::string_view text) {
    if (!text.empty() && text.front() == '[') return text.find("]:") != std::string_view::npos;
    return std::count(text.begin(), text.end(), ':') == 1;
}

std::string join(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& w : words) out += (out.empty() ? "" : " ") + w;
    return out;
}

// ---- running ----

std::uint64_t unix_micros() {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    return us > 0 ? static_cast<std::uint64_t>(us) : 0;
}

std::uint64_t unix_seconds() { return unix_micros() / 1000000; }

std::string default_device_name() {
    std::error_code ec;
    std::string name = asio::ip::host_name(ec);
    if (ec || name.empty()) return "korvex-remote";
    return name.size() > 256 ? name.substr(0, 256) : name;
}

std::string fingerprint_of(const Key32& key) { return host_fingerprint(key); }

// "5 s", "0.25 s".
std::string seconds_text(std::chrono::milliseconds ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", static_cast<double>(ms.count()) / 1000.0);
    return text;
}

// What run_cli needs beyond the context, loaded once.
struct Run {
    CliContext& ctx;
    const CliRequest& request;
    std::string dir;

    int failed(const std::string& text) {
        ctx.err << "korvex-remote: " << text << '\n';
        return kExitFailed;
    }

    // What a failed step of `connection` with `target` means; a time-out in words.
    std::string failure_text(const Connection& connection, const Error& error, const HostPort& target) const {
        if (connection.last_failure() != Failure::TimedOut) return error.text;
        return format_host_port(target) + " did not answer within " + seconds_text(request.timeout) +
               "; is the host running? --timeout waits longer";
    }
    int connection_failed(const Connection& connection, const Error& error, const HostPort& target) {
        return failed(failure_text(connection, error, target));
    }
};

// Which paired host `text` names: by id, else by name; none when it names
// none (it is then an address).
Result<const KnownHost*> paired_host_named(const KnownHosts& known, std::string_view text) {
    auto matches = known.named(text);
    if (matches.empty()) return nullptr;
    if (matches.size() > 1) {
        std::string ids;
        for (const KnownHost* h : matches) ids += (ids.empty() ? "" : ", ") + terminal_text(h->host_id);
        return fail(std::to_string(matches.size()) + " paired hosts are named \"" + terminal_text(text) +
                    "\": give the id instead (" + ids + ")");
    }
    return matches.front();
}

Result<HostPort> endpoint_of(const KnownHost& host, std::optional<std::uint16_t> port) {
    if (host.endpoint.empty()) return fail("no address is known for " + terminal_text(host.name) + ": give --host ADDRESS");
    KORVEX_TRY(HostPort hp, parse_host_port(host.endpoint));
    if (port) hp.port = *port;
    return hp;
}

// --host (a paired host's name or id, else an address), --port alone (the
// default host on that port), or the most recently paired host.
Result<HostPort> session_target(const CliRequest& request, const KnownHosts& known) {
    if (request.host_text) {
        KORVEX_TRY(const KnownHost* paired, paired_host_named(known, *request.host_text));
        if (paired) return endpoint_of(*paired, request.port);
        if (request.target) return *request.target;
    }
    const KnownHost* recent = known.most_recent();
    if (!recent) return fail("no host is paired yet: run \"korvex-remote pair URI\" first, or give --host");
    return endpoint_of(*recent, request.port);
}

int run_forget(Run& run) {
    auto known = load_known_hosts(run.ctx.fs, run.dir);
    if (!known) return run.failed(known.error().text);
    auto paired = paired_host_named(*known, *run.request.host_text);
    if (!paired) return run.failed(paired.error().text);
    if (!*paired)
        return run.failed("no paired host has the name or id \"" + terminal_text(*run.request.host_text) +
                          "\" (korvex-remote hosts lists them)");
    const KnownHost host = **paired;
    known->forget(host.host_id);
    if (auto saved = save_known_hosts(run.ctx.fs, run.dir, *known); !saved) return run.failed(saved.error().text);
    run.ctx.out << "Forgot " << terminal_text(host.name) << " (id " << terminal_text(host.host_id)
                << "). The host still lists this device until it is removed there.\n";
    return kExitOk;
}

int run_hosts(Run& run) {
    auto known = load_known_hosts(run.ctx.fs, run.dir);
    if (!known) return run.failed(known.error().text);
    if (known->hosts.empty()) {
        run.ctx.out << "No paired hosts.\n";
        return kExitOk;
    }
    for (std::size_t i = known->hosts.size(); i-- > 0;) {
        const KnownHost& h = known->hosts[i];
        run.ctx.out << terminal_text(h.name) << "  " << (h.endpoint.empty() ? "-" : h.endpoint) << "  fingerprint "
                    << fingerprint_of(h.ed25519_public) << "  id " << terminal_text(h.host_id)
                    << (i + 1 == known->hosts.size() ? "  (default)" : "") << '\n';
    }
    return kExitOk;
}

int run_keys(Run& run) {
    for (const auto& row : key_vocabulary()) run.ctx.out << row.name << "  (" << row.label << ")\n";
    return kExitOk;
}

int run_info(Run& run) {
    auto known = load_known_hosts(run.ctx.fs, run.dir);
    if (!known) return run.failed(known.error().text);
    auto target = session_target(run.request, *known);
    if (!target) return run.failed(target.error().text);
    Connection connection(run.ctx.rng);
    if (auto ok = connection.connect(target->host, target->port, run.request.timeout); !ok)
        return run.connection_failed(connection, ok.error(), *target);
    auto info = connection.host_info();
    if (!info) return run.connection_failed(connection, info.error(), *target);
    std::ostream& out = run.ctx.out;
    out << "Host:          " << terminal_text(info->name) << '\n'
        << "Id:            " << terminal_text(info->host_id) << '\n'
        << "OS:            " << terminal_text(info->os) << '\n'
        << "Fingerprint:   " << terminal_text(info->fp) << '\n'
        << "Datagram port: " << info->udp_port << '\n';
    const KnownHost* paired = known->find(info->host_id);
    if (!paired) {
        out << "Paired:        no\n";
    } else if (ct_equal(as_bytes(fingerprint_of(paired->ed25519_public)), as_bytes(info->fp))) {
        out << "Paired:        yes\n";
    } else {
        out << "Paired:        the key differs from the one paired (fingerprint "
            << fingerprint_of(paired->ed25519_public) << "): pair again only if the host was reinstalled\n";
    }
    return kExitOk;
}

// The host answers a wrong code with invalid_code alone, and retires its code
// after the fifth; whether that happened is told by a PairRequest alone,
// which costs no try: the host answers no_active_code once the code is gone.
std::string wrong_code_text(Run& run, const HostPort& host) {
    const std::string wrong = reason_text(reason::kInvalidCode);
    const std::string tries = std::to_string(kMaxPairingFailures);
    Connection probe(run.ctx.rng);
    PairRequest request;
    request.client_id = new_client_identity(run.ctx.rng).client_id;
    request.device_name = "code check";
    run.ctx.rng.fill(request.client_x25519);
    run.ctx.rng.fill(request.client_ed25519);
    run.ctx.rng.fill(request.client_nonce);
    if (!probe.connect(host.host, host.port, run.request.timeout) ||
        !probe.send_frame(MessageType::PairRequest, as_bytes(encode_json(request)), false))
        return wrong + "; the host retires its code after " + tries + " wrong tries";
    auto answer = probe.receive(run.request.timeout);
    if (!answer && probe.last_reason() == reason::kNoActiveCode)
        return wrong + ". That was the last try: after " + tries +
               " wrong codes the host retired the code. Start pairing on the host again (\"pair\" in the Linux "
               "host's console) for a new code";
    if (answer && answer->message_type() == MessageType::PairResponse)
        return wrong + "; the code is still open, but the host retires it after " + tries + " wrong tries in all";
    return wrong + "; the host retires its code after " + tries + " wrong tries";
}

int run_pair(Run& run) {
    const CliRequest& request = run.request;
    auto known = load_known_hosts(run.ctx.fs, run.dir);
    if (!known) return run.failed(known.error().text);
    auto identity = load_or_create_client_identity(run.ctx.fs, run.ctx.rng, run.dir);
    if (!identity) return run.failed(identity.error().text);

    std::vector<HostPort> candidates;
    std::optional<Key32> expected_key;
    std::string code = request.code;
    if (request.host_text) {
        auto target = session_target(request, *known);
        if (!target) return run.failed(target.error().text);
        candidates.push_back(*target);
    }
    if (request.uri) {
        expected_key = request.uri->pk;
        code = request.uri->code;
        if (candidates.empty()) {
            for (const std::string* endpoint : {&request.uri->lan, &request.uri->ts}) {
                if (endpoint->empty()) continue;
                auto hp = parse_host_port(*endpoint);
                if (hp) candidates.push_back(*hp);
            }
            if (candidates.empty()) return run.failed("the pairing URI names no address: give --host");
        }
    }

    Connection connection(run.ctx.rng);
    std::optional<HostPort> used;
    std::string errors;
    for (const HostPort& candidate : candidates) {
        auto ok = connection.connect(candidate.host, candidate.port, request.timeout);
        if (ok) {
            used = candidate;
            break;
        }
        errors += (errors.empty() ? "" : "; ") + run.failure_text(connection, ok.error(), candidate);
    }
    if (!used) return run.failed(errors);

    std::string device_name = request.device_name.value_or(default_device_name());
    auto paired = connection.pair(*identity, code, device_name, kDeviceModel, expected_key);
    if (!paired) {
        if (connection.last_failure() == Failure::Reason && connection.last_reason() == reason::kInvalidCode)
            return run.failed(wrong_code_text(run, *used));
        return run.connection_failed(connection, paired.error(), *used);
    }

    KnownHost host;
    host.host_id = paired->host_id;
    host.name = paired->host_name;
    host.ed25519_public = paired->host_ed25519;
    host.endpoint = format_host_port(*used);
    host.udp_port = paired->udp_port;
    host.paired_at_unix = unix_seconds();
    if (const KnownHost* before = known->find(host.host_id)) host.last_seq = before->last_seq;
    known->remember(host);
    auto saved = save_known_hosts(run.ctx.fs, run.dir, *known);

    run.ctx.out << "Paired with " << terminal_text(host.name) << " at " << host.endpoint << " as \"" << device_name << "\".\n";
    if (!expected_key)
        run.ctx.out << "Host key fingerprint " << fingerprint_of(host.ed25519_public)
                    << " (not checked: no pairing URI was given). Pairing from the QR code or the pairing URI is "
                       "the safe way: it checks the host's key before the code is used.\n";
    if (!saved) return run.failed("paired, but the host could not be remembered: " + saved.error().text);
    // The session the pairing opened proves the keys agree on both sides.
    if (auto pong = connection.ping(unix_micros()); !pong)
        return run.failed("paired, but the first message on the new session failed: " + pong.error().text);
    return kExitOk;
}

template <typename T>
Status status_of(const Result<T>& result) {
    if (result) return {};
    return std::unexpected(result.error());
}

std::string sas_reply_text(std::string_view body, bool& ok) {
    ok = false;
    auto record = JsonRecord::parse(body, {"code", "message"});
    if (!record) return "the host's Ctrl+Alt+Del reply is malformed";
    auto code = record->string("code");
    auto message = record->optional_string("message");
    if (!code) return "the host's Ctrl+Alt+Del reply is malformed";
    ok = *code == "sas_ok";
    return message && !message->empty() ? *message : *code;
}

// All of standard input, up to `limit` bytes: text for type - and clip -.
Result<std::string> read_stdin_text(std::istream& in, std::size_t limit, std::string_view command) {
    std::string text;
    char buffer[16384];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (text.size() > limit)
            return fail("standard input holds more than " + std::to_string(limit) + " bytes; " + std::string(command) +
                        " takes at most that");
    }
    if (in.bad()) return fail("cannot read standard input");
    if (!is_valid_utf8(text)) return fail("standard input is not UTF-8 text");
    return text;
}

int run_session_command(Run& run) {
    const CliRequest& request = run.request;
    std::string text = request.text;
    if (request.text_from_stdin) {
        std::size_t limit = request.command == Command::Clip ? clipboard_text_limit(request.paste) : kMaxStdinText;
        auto read = read_stdin_text(run.ctx.in, limit, request.name);
        if (!read) return run.failed(read.error().text);
        text = std::move(*read);
    }
    if (request.command == Command::Clip) {
        if (auto too_long = clipboard_too_long(text, request.paste); !too_long.empty()) return run.failed(too_long);
    }
    auto known = load_known_hosts(run.ctx.fs, run.dir);
    if (!known) return run.failed(known.error().text);
    auto target = session_target(request, *known);
    if (!target) return run.failed(target.error().text);
    auto identity = load_or_create_client_identity(run.ctx.fs, run.ctx.rng, run.dir);
    if (!identity) return run.failed(identity.error().text);

    Connection connection(run.ctx.rng);
    if (auto ok = connection.connect(target->host, target->port, request.timeout); !ok)
        return run.connection_failed(connection, ok.error(), *target);
    HostKeyLookup lookup = [&](std::string_view host_id) -> std::optional<Key32> {
        if (const KnownHost* h = known->find(host_id)) return h->ed25519_public;
        return std::nullopt;
    };
    // Without --name the host keeps the name given at pairing.
    auto auth = connection.authenticate(*identity, lookup, request.device_name.value_or(""));
    if (!auth) return run.connection_failed(connection, auth.error(), *target);

    KnownHost& host = *known->find(auth->host_id);
    host.name = auth->host_name;
    host.endpoint = format_host_port(*target);
    host.udp_port = auth->udp_port;
    SequenceCounter seq(SequenceCounter::start_value(unix_micros(), host.last_seq));

    int result = kExitOk;
    std::string problem;
    auto check = [&](const Status& status) {
        if (!status && problem.empty()) problem = run.failure_text(connection, status.error(), *target);
        return status.has_value();
    };

    if (request.command == Command::Ping) {
        auto started = std::chrono::steady_clock::now();
        auto pong = connection.ping(unix_micros());
        if (check(status_of(pong))) {
            auto took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started);
            char ms[32];
            std::snprintf(ms, sizeof ms, "%.2f", took.count());
            run.ctx.out << "Pong from " << terminal_text(host.name) << " ("
                        << format_host_port(connection.remote_address(), connection.remote_port()) << ") in " << ms
                        << " ms\n";
        }
    } else if (request.command == Command::Type) {
        // Long text goes as several messages, which the host types in order.
        for (std::string_view piece : split_text_messages(text))
            if (!check(connection.send_text(piece))) break;
    } else if (request.command == Command::Clip) {
        check(connection.send_clipboard(text, request.paste));
    } else {
        std::optional<DatagramSender> sender;
        if (request.udp) {
            auto opened = DatagramSender::open(connection);
            if (check(status_of(opened))) sender.emplace(std::move(*opened));
        }
        for (InputEvent event : request.events) {
            if (!problem.empty()) break;
            event.seq = seq.next();
            if (sender) {
                event.flags |= kDatagramAckRequested;
                check(sender->send(event));
            } else {
                check(connection.send_event(event));
            }
        }
        if (problem.empty() && request.wait_sas_result) {
            auto reply = connection.receive(MessageType::SasResult, request.timeout);
            if (check(status_of(reply))) {
                bool ok = false;
                std::string message = sas_reply_text(reply->text(), ok);
                (ok ? run.ctx.out : run.ctx.err) << terminal_text(message) << '\n';
                if (!ok) result = kExitFailed;
            }
        }
    }
    // A last round trip: the host has handled everything before the connection closes.
    if (problem.empty() && request.command != Command::Ping) check(status_of(connection.ping(unix_micros())));

    host.last_seq = std::max(host.last_seq, seq.last_used());
    if (auto saved = save_known_hosts(run.ctx.fs, run.dir, *known); !saved)
        run.ctx.err << "korvex-remote: warning: " << saved.error().text << '\n';
    if (!problem.empty()) return run.failed(problem);
    return result;
}

}  // namespace

Result<CliRequest> parse_command_line(std::span<const std::string> args) {
    KORVEX_TRY(RawArgs raw, split_arguments(args));
    CliRequest r;
    if (raw.flags.contains("--version") && !raw.flags.contains("--help")) {
        r.command = Command::Version;
        r.name = "--version";
        return r;
    }
    if (raw.flags.contains("--help") || raw.positional.empty() || raw.positional[0] == "help") {
        r.command = Command::Help;
        r.name = "help";
        return r;
    }
    r.name = raw.positional[0];
    std::vector<std::string> rest(raw.positional.begin() + 1, raw.positional.end());

    if (auto it = raw.values.find("--timeout"); it != raw.values.end()) {
        KORVEX_TRY(r.timeout, parse_timeout(it->second));
    }
    if (auto it = raw.values.find("--name"); it != raw.values.end()) {
        if (it->second.size() > 256) return fail("--name is longer than 256 bytes");
        if (!is_valid_utf8(it->second)) return fail("--name is not UTF-8 text");
        r.device_name = it->second;
    }
    if (auto it = raw.values.find("--port"); it != raw.values.end()) {
        KORVEX_TRY(r.port, parse_port(it->second));
    }
    // The host as an address; a paired host's name or id is looked up when run.
    auto set_host = [&](const std::string& text) -> Status {
        if (r.port && names_port(text)) return fail("give the port either in --host or with --port, not both");
        r.host_text = text;
        KORVEX_TRY(r.target, parse_host_port(text, r.port.value_or(kDefaultPort)));
        return {};
    };
    if (auto it = raw.values.find("--host"); it != raw.values.end()) {
        if (auto ok = set_host(it->second); !ok) return std::unexpected(ok.error());
    }
    r.udp = raw.flags.contains("--udp");
    r.paste = raw.flags.contains("--paste");
    if (r.udp && !is_event_command(r.name))
        return fail("--udp does not apply to " + r.name + "; it applies to " + event_command_list());
    if (r.paste && r.name != "clip") return fail("--paste applies to clip only");
    if (raw.values.contains("--code") && r.name != "pair") return fail("--code applies to pair only");
    if (raw.values.contains("--mods") && r.name != "key" && r.name != "click")
        return fail("--mods applies to key and click only");

    if (r.name == "info" || r.name == "forget") {
        const bool forget = r.name == "forget";
        r.command = forget ? Command::Forget : Command::Info;
        if (auto ok = expect_arguments(r, rest, forget ? 1 : 0, 1, forget ? "HOST (a name or id from hosts)" : "[HOST[:PORT]]");
            !ok)
            return std::unexpected(ok.error());
        if (!rest.empty()) {
            if (r.host_text) return fail("give the host either as an argument or with --host, not both");
            if (forget) {
                if (r.port) return fail("--port does not apply to forget");
                r.host_text = rest[0];
            } else if (auto ok = set_host(rest[0]); !ok) {
                return std::unexpected(ok.error());
            }
        }
    } else if (r.name == "pair") {
        r.command = Command::Pair;
        auto code = raw.values.find("--code");
        // An unquoted "--code 824 329" arrives as two words.
        if (code != raw.values.end() && rest.size() == 1 && code->second.size() == 3 && all_digits(code->second) &&
            rest[0].size() == 3 && all_digits(rest[0])) {
            code->second += " " + rest[0];
            rest.clear();
        }
        if (auto ok = expect_arguments(r, rest, 0, 1, "URI | pair --host H [--port P] --code C"); !ok)
            return std::unexpected(ok.error());
        if (!rest.empty()) {
            if (code != raw.values.end() && !rest[0].starts_with("korvex:"))
                return fail("unexpected \"" + rest[0] + "\" after --code: give the code as the host shows it, "
                            "in quotes if it has a space (\"824 329\")");
            if (code != raw.values.end()) return fail("the pairing URI carries the code: leave out --code");
            auto uri = parse_pairing_uri(rest[0]);
            if (!uri && uri.error().text.find("is missing the key") != std::string::npos)
                return fail(uri.error().text +
                            "; an unquoted URI is cut at the first \"&\" by the shell: put it in single quotes, "
                            "korvex-remote pair 'korvex://pair?...'");
            if (!uri) return std::unexpected(uri.error());
            r.uri = std::move(*uri);
        } else {
            if (!r.target || code == raw.values.end()) return fail("pair needs a pairing URI, or --host and --code");
            auto digits = pairing_code_digits(code->second);
            if (!digits)
                return fail("the pairing code must be the six digits the host shows (\"824 329\", \"824-329\" or "
                            "\"824329\"), not \"" + code->second + "\"");
            r.code = *digits;
        }
    } else if (r.name == "ping") {
        r.command = Command::Ping;
        if (auto ok = expect_arguments(r, rest, 0, 0, ""); !ok) return std::unexpected(ok.error());
    } else if (r.name == "type" || r.name == "clip") {
        r.command = r.name == "type" ? Command::Type : Command::Clip;
        if (auto ok = expect_arguments(r, rest, 1, 1000, r.name == "type" ? "TEXT | -" : "TEXT | - [--paste]"); !ok)
            return std::unexpected(ok.error());
        r.text_from_stdin = rest.size() == 1 && rest[0] == "-";
        if (!r.text_from_stdin) r.text = join(rest);
        if (!is_valid_utf8(r.text)) return fail("the text is not UTF-8");
    } else if (r.name == "keys") {
        r.command = Command::Keys;
        if (auto ok = expect_arguments(r, rest, 0, 0, ""); !ok) return std::unexpected(ok.error());
    } else if (r.name == "hosts") {
        r.command = Command::Hosts;
        if (auto ok = expect_arguments(r, rest, 0, 0, ""); !ok) return std::unexpected(ok.error());
    } else if (is_event_command(r.name)) {
        r.command = Command::Events;
        KORVEX_TRY(r.events, parse_events(r.name, rest, raw, r));
    } else {
        return fail("unknown command \"" + r.name + "\"");
    }
    if ((r.port || r.host_text) && (r.command == Command::Keys || r.command == Command::Hosts))
        return fail(std::string(r.port ? "--port" : "--host") + " does not apply to " + r.name);
    return r;
}

std::string usage_text() {
    return "Usage: korvex-remote COMMAND [ARGUMENTS] [OPTIONS]\n"
           "\n"
           "Controls a PC running the Korvex host from this machine.\n"
           "\n"
           "Pairing and checks:\n"
           "  info [HOST[:PORT]]             show a host's name, id and key fingerprint\n"
           "  pair URI                       pair with the korvex://pair?... URI the host shows\n"
           "  pair --host H --code C         pair with the six-digit code the host shows (\"824 329\")\n"
           "  hosts                          list the paired hosts (the last paired is the default)\n"
           "  forget HOST                    forget a paired host, by the name or id hosts shows\n"
           "  ping                           authenticate and measure one round trip\n"
           "\n"
           "Input (to the most recently paired host unless --host is given):\n"
           "  type TEXT                      type the text; long text goes as several messages\n"
           "  clip TEXT [--paste]            set the host's clipboard (at most " +
           std::to_string(clipboard_text_limit(true)) +
           " bytes),\n"
           "                                 and paste it with --paste\n"
           "  type -, clip -                 the same with the text read from standard input\n"
           "  key NAME [--mods LIST]         press and release a key (a, enter, f5, left, ...);\n"
           "                                 LIST: ctrl,shift,alt,win\n"
           "  keys                           list the key names\n"
           "  move DX DY                     move the pointer by DX, DY pixels\n"
           "  click [left|right|middle]      press and release a mouse button\n"
           "  scroll DY                      scroll vertically by DY (positive: up, negative: down)\n"
           "  media NAME                     " +
           wrapped(command_names(media_commands())) + "  edit NAME                      " +
           wrapped(command_names(edit_commands())) + "  shortcut NAME                  " +
           wrapped(command_names(desktop_shortcuts())) +
           "  lock                           lock the workstation\n"
           "  cad                            Ctrl+Alt+Del, and print the host's answer\n"
           "  release                        release every key and button the host holds\n"
           "\n"
           "Options:\n"
           "  --host H[:P]    a paired host's name or id (as hosts shows), or an address or\n"
           "                  network name; IPv6 as [addr]:port\n"
           "  --port P        the host's port (default 49182; alone: the default host on port P)\n"
           "  --name NAME     this device's name (default: this machine's host name when pairing,\n"
           "                  the name given at pairing afterwards)\n"
           "  --udp           send the input events as datagrams, each acknowledged; for\n"
           "                  " +
           event_command_list() +
           "\n"
           "  --timeout S     seconds to wait for each answer, 0.001 to 3600 (default 5)\n"
           "  -h, --help      show this text\n"
           "  --version       show the version\n"
           "\n"
           "The identity of this device and the paired hosts are kept in KORVEX_REMOTE_DIR, else\n"
           "the korvex-remote folder of the user's configuration folder.\n"
           "Exit status: 0 done, 1 failed, refused by the host or output not written, 2 bad usage.\n";
}

namespace {

// Output that did not reach its file (a full disk, a closed pipe) is a failure.
int written(CliContext& ctx, int code) {
    ctx.out.flush();
    if (ctx.out) return code;
    ctx.err << "korvex-remote: cannot write the output\n";
    return code == kExitOk ? kExitFailed : code;
}

}  // namespace

int run_cli(std::span<const std::string> args, CliContext& ctx) {
    auto request = parse_command_line(args);
    if (!request) {
        ctx.err << "korvex-remote: " << request.error().text << "\nTry \"korvex-remote --help\".\n";
        return kExitUsage;
    }
    if (request->command == Command::Help) {
        if (args.empty()) {
            ctx.err << "Usage: korvex-remote COMMAND [ARGUMENTS] [OPTIONS]\nTry \"korvex-remote --help\".\n";
            return kExitUsage;
        }
        ctx.out << usage_text();
        return written(ctx, kExitOk);
    }
    if (request->command == Command::Version) {
        ctx.out << "korvex-remote " << kVersion << '\n';
        return written(ctx, kExitOk);
    }
    Run run{ctx, *request, client_config_dir(ctx.env, ctx.fs.separator())};
    switch (request->command) {
        case Command::Hosts:
            return written(ctx, run_hosts(run));
        case Command::Keys:
            return written(ctx, run_keys(run));
        case Command::Info:
            return written(ctx, run_info(run));
        case Command::Pair:
            return written(ctx, run_pair(run));
        case Command::Forget:
            return written(ctx, run_forget(run));
        default:
            return written(ctx, run_session_command(run));
    }
}

}  // namespace korvex::client
