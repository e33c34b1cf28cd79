#include "searchd/http/RequestHead.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace {

// Digits beyond this would overflow a 64-bit count.
constexpr size_t kMostDigits = 18;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool sameName(std::string_view name, std::string_view wanted) {
    return name.size() == wanted.size() &&
           std::equal(name.begin(), name.end(), wanted.begin(),
                      [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; });
}

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

// A Content-Length value: one number, or a list of the same number repeated.
std::optional<size_t> contentLength(std::string_view value) {
    std::optional<size_t> length;
    for (const std::string_view part : split(value, ',')) {
        const std::string_view number = trimmed(part);
        if (!isDigits(number))
            return std::nullopt;
        const size_t parsed =
            number.size() > kMostDigits ? SIZE_MAX : std::stoull(std::string(number));
        if (length && *length != parsed)
            return std::nullopt;
        length = parsed;
    }
    return length;
}

// "bytes=" and byte ranges ("first-last", "first-", "-count") separated by commas, as
// HTTP spells them; blanks only after a comma.
bool wellFormedRange(std::string_view value) {
    constexpr std::string_view kUnit = "bytes=";
    if (value.substr(0, kUnit.size()) != kUnit)
        return false;
    bool first = true;
    for (std::string_view spec : split(value.substr(kUnit.size()), ',')) {
        if (!first)
            while (!spec.empty() && isBlank(spec.front()))
                spec.remove_prefix(1);
        first = false;
        const size_t dash = spec.find('-');
        if (dash == std::string_view::npos)
            return false;
        const std::string_view from = spec.substr(0, dash);
        const std::string_view to = spec.substr(dash + 1);
        if ((from.empty() && to.empty()) || (!from.empty() && !isDigits(from)) ||
            (!to.empty() && !isDigits(to)) || from.size() > kMostDigits || to.size() > kMostDigits)
            return false;
        if (!from.empty() && !to.empty() &&
            std::stoull(std::string(from)) > std::stoull(std::string(to)))
            return false;
    }
    return true;
}

// A field name as HTTP spells one: letters, digits and a few marks, nothing else.
bool isToken(std::string_view name) {
    constexpr std::string_view kMarks = "!#$%&'*+-.^_`|~";
    return !name.empty() && std::all_of(name.begin(), name.end(), [&](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
               kMarks.find(c) != std::string_view::npos;
    });
}

} // namespace

RequestHead RequestHead::check(const Fields& fields) {
    RequestHead result;
    std::optional<size_t> length;
    bool lengthGiven = false;
    bool bad = false;
    bool chunked = false;
    int ranges = 0;
    for (const auto& [name, value] : fields) {
        bad = bad || !isToken(name);
        if (sameName(name, "content-length")) {
            const auto given = contentLength(trimmed(value));
            bad = bad || !given || (lengthGiven && length != given);
            length = given;
            lengthGiven = true;
        } else if (sameName(name, "transfer-encoding")) {
            chunked = true;
        } else if (sameName(name, "connection")) {
            for (const std::string_view option : split(value, ',')) {
                result.asksClose = result.asksClose || sameName(trimmed(option), "close");
                result.asksKeepAlive =
                    result.asksKeepAlive || sameName(trimmed(option), "keep-alive");
            }
        } else if (sameName(name, "range")) {
            result.range = std::string(trimmed(value));
            ++ranges;
        }
    }
    if (bad || (chunked && lengthGiven))
        result.refusal = 400;
    else if (chunked)
        result.refusal = 411;
    result.bodyLength = length.value_or(0);
    if (ranges > 1 || (ranges == 1 && !wellFormedRange(result.range)))
        result.range.clear();
    return result;
}
