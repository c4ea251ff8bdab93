#include "client/cli.h"

#include <algorithm>
#include <asio/ip/host_name.hpp>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <ostream>

#include "client/config.h"
#include "client/connection.h"
#include "client/datagram_sender.h"
#include "client/events.h"
#include "client/sequence.h"
#include "core/datagram.h"
#include "core/json.h"
#include "core/key_vocabulary.h"
#include "platform/environment.h"
#include "platform/file_system.h"

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
constexpr std::string_view kFlagOptions[] = {"--udp", "--paste", "--help"};

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

Result<std::chrono::milliseconds> parse_timeout(std::string_view text) {
    KORVEX_TRY(float seconds, parse_float(text, "--timeout"));
    if (seconds <= 0 || seconds > 3600) return fail("--timeout must be between 0 and 3600 seconds");
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
    return name == "key" || name == "move" || name == "click" || name == "scroll" || name == "media" ||
           name == "lock" || name == "cad" || name == "edit" || name == "shortcut" || name == "release";
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

// Text from the host on the user's terminal: control characters could move
// the cursor or rewrite earlier lines, so they become '?'.
std::string shown(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return out;
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
};

Result<HostPort> session_target(const CliRequest& request, const KnownHosts& known) {
    if (request.target) return *request.target;
    const KnownHost* recent = known.most_recent();
    if (!recent) return fail("no host is paired yet: run \"korvex-remote pair URI\" first, or give --host");
    if (recent->endpoint.empty()) return fail("no address is known for " + shown(recent->name) + ": give --host");
    return parse_host_port(recent->endpoint);
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
        run.ctx.out << shown(h.name) << "  " << (h.endpoint.empty() ? "-" : h.endpoint) << "  fingerprint "
                    << fingerprint_of(h.ed25519_public) << "  id " << shown(h.host_id)
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
        return run.failed(ok.error().text);
    auto info = connection.host_info();
    if (!info) return run.failed(info.error().text);
    std::ostream& out = run.ctx.out;
    out << "Host:          " << shown(info->name) << '\n'
        << "Id:            " << shown(info->host_id) << '\n'
        << "OS:            " << shown(info->os) << '\n'
        << "Fingerprint:   " << shown(info->fp) << '\n'
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

int run_pair(Run& run) {
    const CliRequest& request = run.request;
    auto known = load_known_hosts(run.ctx.fs, run.dir);
    if (!known) return run.failed(known.error().text);
    auto identity = load_or_create_client_identity(run.ctx.fs, run.ctx.rng, run.dir);
    if (!identity) return run.failed(identity.error().text);

    std::vector<HostPort> candidates;
    std::optional<Key32> expected_key;
    std::string code = request.code;
    if (request.uri) {
        expected_key = request.uri->pk;
        code = request.uri->code;
        if (request.target) {
            candidates.push_back(*request.target);
        } else {
            for (const std::string* endpoint : {&request.uri->lan, &request.uri->ts}) {
                if (endpoint->empty()) continue;
                auto hp = parse_host_port(*endpoint);
                if (hp) candidates.push_back(*hp);
            }
            if (candidates.empty()) return run.failed("the pairing URI names no address: give --host");
        }
    } else {
        candidates.push_back(*request.target);
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
        errors += (errors.empty() ? "" : "; ") + ok.error().text;
    }
    if (!used) return run.failed(errors);

    std::string device_name = request.device_name.value_or(default_device_name());
    auto paired = connection.pair(*identity, code, device_name, kDeviceModel, expected_key);
    if (!paired) return run.failed(paired.error().text);

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

    run.ctx.out << "Paired with " << shown(host.name) << " at " << host.endpoint << " as \"" << device_name << "\".\n";
    if (!expected_key)
        run.ctx.out << "Host key fingerprint " << fingerprint_of(host.ed25519_public)
                    << " (not checked: no pairing URI was given).\n";
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

int run_session_command(Run& run) {
    const CliRequest& request = run.request;
    auto known = load_known_hosts(run.ctx.fs, run.dir);
    if (!known) return run.failed(known.error().text);
    auto target = session_target(request, *known);
    if (!target) return run.failed(target.error().text);
    auto identity = load_or_create_client_identity(run.ctx.fs, run.ctx.rng, run.dir);
    if (!identity) return run.failed(identity.error().text);

    Connection connection(run.ctx.rng);
    if (auto ok = connection.connect(target->host, target->port, request.timeout); !ok)
        return run.failed(ok.error().text);
    HostKeyLookup lookup = [&](std::string_view host_id) -> std::optional<Key32> {
        if (const KnownHost* h = known->find(host_id)) return h->ed25519_public;
        return std::nullopt;
    };
    // Without --name the host keeps the name given at pairing.
    auto auth = connection.authenticate(*identity, lookup, request.device_name.value_or(""));
    if (!auth) return run.failed(auth.error().text);

    KnownHost& host = *known->find(auth->host_id);
    host.name = auth->host_name;
    host.endpoint = format_host_port(*target);
    host.udp_port = auth->udp_port;
    SequenceCounter seq(SequenceCounter::start_value(unix_micros(), host.last_seq));

    int result = kExitOk;
    std::string problem;
    auto check = [&](const Status& status) {
        if (!status && problem.empty()) problem = status.error().text;
        return status.has_value();
    };

    if (request.command == Command::Ping) {
        auto started = std::chrono::steady_clock::now();
        auto pong = connection.ping(unix_micros());
        if (check(status_of(pong))) {
            auto took = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started);
            char text[32];
            std::snprintf(text, sizeof text, "%.2f", took.count());
            run.ctx.out << "Pong from " << shown(host.name) << " in " << text << " ms\n";
        }
    } else if (request.command == Command::Type) {
        check(connection.send_text(request.text));
    } else if (request.command == Command::Clip) {
        check(connection.send_clipboard(request.text, request.paste));
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
                (ok ? run.ctx.out : run.ctx.err) << shown(message) << '\n';
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
        r.device_name = it->second;
    }
    std::optional<std::uint16_t> port;
    if (auto it = raw.values.find("--port"); it != raw.values.end()) {
        KORVEX_TRY(port, parse_port(it->second));
    }
    if (auto it = raw.values.find("--host"); it != raw.values.end()) {
        if (port && names_port(it->second)) return fail("give the port either in --host or with --port, not both");
        KORVEX_TRY(r.target, parse_host_port(it->second, port.value_or(kDefaultPort)));
    } else if (port) {
        return fail("--port needs --host");
    }
    r.udp = raw.flags.contains("--udp");
    r.paste = raw.flags.contains("--paste");
    if (r.udp && !is_event_command(r.name)) return fail("--udp applies to the event commands only");
    if (r.paste && r.name != "clip") return fail("--paste applies to clip only");
    if (raw.values.contains("--code") && r.name != "pair") return fail("--code applies to pair only");
    if (raw.values.contains("--mods") && r.name != "key" && r.name != "click")
        return fail("--mods applies to key and click only");

    if (r.name == "info") {
        r.command = Command::Info;
        if (auto ok = expect_arguments(r, rest, 0, 1, "[HOST[:PORT]]"); !ok) return std::unexpected(ok.error());
        if (!rest.empty()) {
            if (r.target) return fail("give the host either as an argument or with --host, not both");
            KORVEX_TRY(r.target, parse_host_port(rest[0], port.value_or(kDefaultPort)));
        }
    } else if (r.name == "pair") {
        r.command = Command::Pair;
        if (auto ok = expect_arguments(r, rest, 0, 1, "URI | pair --host H [--port P] --code C"); !ok)
            return std::unexpected(ok.error());
        auto code = raw.values.find("--code");
        if (!rest.empty()) {
            if (code != raw.values.end()) return fail("the pairing URI carries the code: leave out --code");
            KORVEX_TRY(r.uri, parse_pairing_uri(rest[0]));
        } else {
            if (!r.target || code == raw.values.end()) return fail("pair needs a pairing URI, or --host and --code");
            r.code = code->second;
            bool six_digits = r.code.size() == 6 &&
                              std::all_of(r.code.begin(), r.code.end(), [](char c) { return c >= '0' && c <= '9'; });
            if (!six_digits) return fail("the pairing code must be six digits");
        }
    } else if (r.name == "ping") {
        r.command = Command::Ping;
        if (auto ok = expect_arguments(r, rest, 0, 0, ""); !ok) return std::unexpected(ok.error());
    } else if (r.name == "type" || r.name == "clip") {
        r.command = r.name == "type" ? Command::Type : Command::Clip;
        if (auto ok = expect_arguments(r, rest, 1, 1000, r.name == "type" ? "TEXT" : "TEXT [--paste]"); !ok)
            return std::unexpected(ok.error());
        r.text = join(rest);
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
           "  pair --host H --code C         pair with the six-digit code the host shows\n"
           "  hosts                          list the paired hosts (the last paired is the default)\n"
           "  ping                           authenticate and measure one round trip\n"
           "\n"
           "Input (to the most recently paired host unless --host is given):\n"
           "  type TEXT                      type the text\n"
           "  clip TEXT [--paste]            set the host's clipboard, and paste it with --paste\n"
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
           "  --host H[:P]    the host's address or name; IPv6 as [addr]:port\n"
           "  --port P        the host's port (default 49182)\n"
           "  --name NAME     this device's name (default: this machine's host name when pairing,\n"
           "                  the name given at pairing afterwards)\n"
           "  --udp           send the input events as datagrams, each acknowledged\n"
           "  --timeout S     seconds to wait for each answer (default 5)\n"
           "  -h, --help      show this text\n"
           "\n"
           "The identity of this device and the paired hosts are kept in KORVEX_REMOTE_DIR, else\n"
           "the korvex-remote folder of the user's configuration folder.\n"
           "Exit status: 0 done, 1 failed or refused by the host, 2 bad usage.\n";
}

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
        return kExitOk;
    }
    Run run{ctx, *request, client_config_dir(ctx.env, ctx.fs.separator())};
    switch (request->command) {
        case Command::Hosts:
            return run_hosts(run);
        case Command::Keys:
            return run_keys(run);
        case Command::Info:
            return run_info(run);
        case Command::Pair:
            return run_pair(run);
        default:
            return run_session_command(run);
    }
}

}  // namespace korvex::client
