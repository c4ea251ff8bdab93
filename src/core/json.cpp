#include "core/json.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

namespace korvex {

// ---- writing ----

void JsonWriter::newline() {
    out_.push_back('\n');
    out_.append(2 * levels_.size(), ' ');
}

void JsonWriter::before_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (levels_.empty()) return;
    if (!levels_.back().empty) out_.push_back(',');
    levels_.back().empty = false;
    if (pretty_) newline();
}

JsonWriter& JsonWriter::begin_object() {
    before_value();
    out_.push_back('{');
    levels_.push_back({});
    return *this;
}

JsonWriter& JsonWriter::begin_array() {
    before_value();
    out_.push_back('[');
    levels_.push_back({});
    return *this;
}

void JsonWriter::close(char bracket) {
    bool was_empty = levels_.back().empty;
    levels_.pop_back();
    if (pretty_ && !was_empty) newline();
    out_.push_back(bracket);
}

JsonWriter& JsonWriter::end_object() {
    close('}');
    return *this;
}

JsonWriter& JsonWriter::end_array() {
    close(']');
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    before_value();
    write_string(name);
    out_.append(pretty_ ? ": " : ":");
    after_key_ = true;
    return *this;
}

JsonWriter& JsonWriter::string(std::string_view text) {
    before_value();
    write_string(text);
    return *this;
}

JsonWriter& JsonWriter::number(std::uint64_t value) {
    before_value();
    out_.append(std::to_string(value));
    return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
    before_value();
    out_.append(value ? "true" : "false");
    return *this;
}

JsonWriter& JsonWriter::string_array(const std::vector<std::string>& items) {
    begin_array();
    for (const auto& item : items) string(item);
    return end_array();
}

void JsonWriter::write_string(std::string_view text) {
    static constexpr char digits[] = "0123456789abcdef";
    out_.push_back('"');
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out_.append("\\\""); break;
            case '\\': out_.append("\\\\"); break;
            case '\b': out_.append("\\b"); break;
            case '\t': out_.append("\\t"); break;
            case '\n': out_.append("\\n"); break;
            case '\f': out_.append("\\f"); break;
            case '\r': out_.append("\\r"); break;
            default:
                if (c < 0x20) {
                    out_.append("\\u00");
                    out_.push_back(digits[c >> 4]);
                    out_.push_back(digits[c & 0x0F]);
                } else {
                    out_.push_back(ch);
                }
        }
    }
    out_.push_back('"');
}

// ---- reading ----

Result<std::shared_ptr<const nlohmann::json>> parse_json_document(std::string_view text) {
    // The library keeps the last of duplicated members; note any duplicate so
    // the document can be refused as a whole.
    std::vector<std::set<std::string>> open_objects;
    bool duplicate = false;
    auto watch = [&](int, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
        using Event = nlohmann::json::parse_event_t;
        if (event == Event::object_start) {
            open_objects.emplace_back();
        } else if (event == Event::object_end) {
            if (!open_objects.empty()) open_objects.pop_back();
        } else if (event == Event::key && !open_objects.empty()) {
            if (!open_objects.back().insert(parsed.get<std::string>()).second) duplicate = true;
        }
        return true;
    };
    auto doc = std::make_shared<nlohmann::json>(
        nlohmann::json::parse(text.begin(), text.end(), watch, /*allow_exceptions=*/false));
    if (doc->is_discarded()) return fail("not valid JSON");
    if (duplicate) return fail("a member is given twice");
    return std::shared_ptr<const nlohmann::json>(std::move(doc));
}

Result<JsonRecord> JsonRecord::parse(std::string_view text, std::initializer_list<std::string_view> fields) {
    // The library skips a leading byte order mark; a record may start with
    // white space only.
    if (text.starts_with("\xEF\xBB\xBF")) return fail("not valid JSON");
    auto doc = parse_json_document(text);
    if (!doc) return std::unexpected(doc.error());
    const nlohmann::json& root = **doc;
    return from(std::move(*doc), root, fields);
}

Result<JsonRecord> JsonRecord::from(std::shared_ptr<const nlohmann::json> owner, const nlohmann::json& value,
                                    std::initializer_list<std::string_view> fields) {
    if (value.is_array()) {
        if (value.size() > fields.size()) return fail("array form holds more values than the record has fields");
    } else if (!value.is_object()) {
        return fail("expected an object");
    }
    return JsonRecord(std::move(owner), &value, fields);
}

const nlohmann::json* JsonRecord::value(std::string_view field) const {
    if (value_->is_object()) {
        auto it = value_->find(field);
        return it == value_->end() ? nullptr : &*it;
    }
    auto pos = std::find(fields_.begin(), fields_.end(), field);
    auto index = static_cast<std::size_t>(pos - fields_.begin());
    if (pos == fields_.end() || index >= value_->size()) return nullptr;
    return &(*value_)[index];
}

Result<const nlohmann::json*> JsonRecord::required(std::string_view field) const {
    const nlohmann::json* v = value(field);
    if (v == nullptr) return fail("missing member " + std::string(field));
    return v;
}

Result<std::string> JsonRecord::string(std::string_view field) const {
    auto v = required(field);
    if (!v) return std::unexpected(v.error());
    if (!(*v)->is_string()) return fail("member " + std::string(field) + " is not a string");
    return (*v)->get<std::string>();
}

Result<std::string> JsonRecord::optional_string(std::string_view field) const {
    if (!has(field)) return std::string();
    return string(field);
}

Result<std::uint64_t> JsonRecord::u64(std::string_view field) const {
    auto v = required(field);
    if (!v) return std::unexpected(v.error());
    const nlohmann::json& n = **v;
    if (n.is_number_unsigned()) return n.get<std::uint64_t>();
    if (n.is_number_integer() && n.get<std::int64_t>() == 0) return 0;  // "-0"
    return fail("member " + std::string(field) + " is not an unsigned integer");
}

Result<std::vector<std::string>> JsonRecord::string_list(std::string_view field) const {
    auto v = required(field);
    if (!v) return std::unexpected(v.error());
    if (!(*v)->is_array()) return fail("member " + std::string(field) + " is not an array");
    std::vector<std::string> out;
    for (const auto& item : **v) {
        if (!item.is_string()) return fail("member " + std::string(field) + " holds a non-string");
        out.push_back(item.get<std::string>());
    }
    return out;
}

Result<bool> JsonRecord::optional_bool(std::string_view field) const {
    const nlohmann::json* v = value(field);
    if (v == nullptr) return false;
    if (!v->is_boolean()) return fail("member " + std::string(field) + " is not a boolean");
    return v->get<bool>();
}

}  // namespace korvex
