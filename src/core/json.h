#pragma once
// The JSON rules of every format the host reads and writes.
//
// Writing: compact (or the store's two-space pretty form), members in the
// order the caller emits them; in strings only '"', '\\' and control
// characters are escaped, everything else is written as its UTF-8 bytes.
//
// Reading: whitespace around the value is skipped, a member given twice
// anywhere is refused, trailing data is refused, unknown members are skipped,
// and a record may also come as an array of its field values in field order.
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "core/bytes.h"
#include "core/error.h"

namespace korvex {

class JsonWriter {
public:
    enum class Style { Compact, Pretty };
    explicit JsonWriter(Style style = Style::Compact) : pretty_(style == Style::Pretty) {}

    JsonWriter& begin_object();
    JsonWriter& end_object();
    JsonWriter& begin_array();
    JsonWriter& end_array();
    JsonWriter& key(std::string_view name);
    JsonWriter& string(std::string_view text);
    JsonWriter& number(std::uint64_t value);
    JsonWriter& boolean(bool value);
    JsonWriter& string_array(const std::vector<std::string>& items);

    // key + value in one call, for the common case of flat objects.
    JsonWriter& member(std::string_view name, std::string_view text) { return key(name).string(text); }
    JsonWriter& member(std::string_view name, const char* text) { return key(name).string(text); }
    JsonWriter& member(std::string_view name, const std::string& text) { return key(name).string(text); }
    JsonWriter& member(std::string_view name, std::uint64_t value) { return key(name).number(value); }
    JsonWriter& member(std::string_view name, bool value) { return key(name).boolean(value); }
    JsonWriter& member(std::string_view name, const std::vector<std::string>& items) {
        return key(name).string_array(items);
    }

    const std::string& text() const { return out_; }
    std::string take() { return std::move(out_); }

private:
    void before_value();
    void write_string(std::string_view text);
    void newline();
    void close(char bracket);

    struct Level {
        bool empty = true;
    };
    std::string out_;
    std::vector<Level> levels_;
    bool pretty_;
    bool after_key_ = false;
};

// Reads one record: an object, or an array of the values in `fields` order.
// Accessors return format errors for missing required members and wrong types.
class JsonRecord {
public:
    // Field names must be string literals (or otherwise outlive the record).
    static Result<JsonRecord> parse(std::string_view text, std::initializer_list<std::string_view> fields);
    // A nested value of a parsed document; `owner` keeps that document alive.
    static Result<JsonRecord> from(std::shared_ptr<const nlohmann::json> owner, const nlohmann::json& value,
                                   std::initializer_list<std::string_view> fields);

    bool has(std::string_view field) const { return value(field) != nullptr; }
    Result<std::string> string(std::string_view field) const;
    Result<std::string> optional_string(std::string_view field) const;  // "" when absent
    Result<std::uint64_t> u64(std::string_view field) const;            // non-negative integer
    Result<bool> optional_bool(std::string_view field) const;           // false when absent
    // hex(N) member of either case.
    template <std::size_t N>
    Result<ByteArray<N>> hex(std::string_view field) const {
        auto text = string(field);
        if (!text) return std::unexpected(text.error());
        auto bytes = hex_decode_exact<N>(*text);
        if (!bytes) return fail("member " + std::string(field) + " is not " + std::to_string(2 * N) + " hex digits");
        return *bytes;
    }
    // A required string member whose hex may fail to decode without that
    // being a format error: nothing comes back then.
    template <std::size_t N>
    Result<std::optional<ByteArray<N>>> hex_or_nothing(std::string_view field) const {
        auto text = string(field);
        if (!text) return std::unexpected(text.error());
        return hex_decode_exact<N>(*text);
    }
    Result<std::vector<std::string>> string_list(std::string_view field) const;
    // The raw value (for nested records and arrays); nullptr when absent.
    const nlohmann::json* value(std::string_view field) const;
    const std::shared_ptr<const nlohmann::json>& owner() const { return owner_; }

private:
    JsonRecord(std::shared_ptr<const nlohmann::json> owner, const nlohmann::json* value,
               std::initializer_list<std::string_view> fields)
        : owner_(std::move(owner)), value_(value), fields_(fields) {}
    Result<const nlohmann::json*> required(std::string_view field) const;

    std::shared_ptr<const nlohmann::json> owner_;
    const nlohmann::json* value_;
    std::vector<std::string_view> fields_;
};

// Parses a whole document by the reading rules.
Result<std::shared_ptr<const nlohmann::json>> parse_json_document(std::string_view text);

}  // namespace korvex
