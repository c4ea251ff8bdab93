#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace korvex {

class Environment {
public:
    virtual ~Environment() = default;
    // The variable's value as UTF-8, or nothing when it is unset or is not
    // valid text.
    virtual std::optional<std::string> get(std::string_view name) const = 0;
};

const Environment& os_environment();

}  // namespace korvex
