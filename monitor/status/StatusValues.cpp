#include "StatusValues.h"

#include <charconv>

std::optional<std::int64_t> statusCodeFromText(std::string_view text)
{
    if (!text.empty() && text.front() == '"')
        text.remove_prefix(1);
    const size_t comma = text.find(',');
    if (comma == std::string_view::npos)
        return std::nullopt;
    std::string_view digits = text.substr(0, comma);
    const bool negative = !digits.empty() && digits.front() == '-';
    if (negative)
        digits.remove_prefix(1);
    // Codes have up to four digits; far longer is no code.
    if (digits.empty() || digits.size() > 9)
        return std::nullopt;
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.front() < '0' || digits.front() > '9' || ec != std::errc() || end != digits.data() + digits.size())
        return std::nullopt;
    return negative ? -value : value;
}

std::optional<std::int64_t> tonerPercent(std::int64_t value)
{
    if (value < 0 || value > 100)
        return std::nullopt;
    return value;
}
