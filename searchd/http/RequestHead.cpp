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

struct Line {
    size_t start = 0;      // of the line
    size_t end = 0;        // past its LF
    std::string_view text; // without CR LF
};

// What the header's fields say of the request's length, read one line at a time.
struct Framing {
    std::optional<size_t> length;
    bool lengthGiven = false;
    bool badLength = false;
    bool chunked = false;
    bool badLine = false;
    std::vector<Line> ranges;

    void read(const Line& line) {
        const std::string_view text = line.text;
        const size_t colon = text.find(':');
        // A folded line continues the one before; a blank before the colon hides the name.
        if (isBlank(text.front()) ||
            (colon != std::string_view::npos && colon > 0 && isBlank(text[colon - 1])))
            badLine = true;
        if (colon == std::string_view::npos)
            return;
        const std::string_view name = text.substr(0, colon);
        const std::string_view value = trimmed(text.substr(colon + 1));
        if (sameName(name, "content-length")) {
            const auto given = contentLength(value);
            badLength = badLength || !given || (lengthGiven && length != given);
            length = given;
            lengthGiven = true;
        } else if (sameName(name, "transfer-encoding")) {
            chunked = true;
        } else if (sameName(name, "range")) {
            ranges.push_back({line.start, line.end, value});
        }
    }

    int refusal() const {
        if (badLine || badLength || (chunked && lengthGiven))
            return 400;
        return chunked ? 411 : 0;
    }
};

} // namespace

RequestHead RequestHead::check(std::string& head) {
    RequestHead result;
    Framing framing;
    size_t start = head.find('\n');
    start = start == std::string::npos ? head.size() : start + 1; // past the request line
    while (start < head.size() && result.headerEnd == 0) {
        const size_t lf = head.find('\n', start);
        const size_t end = lf == std::string::npos ? head.size() : lf + 1;
        std::string_view text(head.data() + start, end - start);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.remove_suffix(1);
        if (text.empty())
            result.headerEnd = end;
        else
            framing.read({start, end, text});
        start = end;
    }
    if (result.headerEnd == 0) { // no blank line: the caller holds no whole header
        result.headerEnd = head.size();
        framing.ranges.clear();
    }
    result.refusal = framing.refusal();
    result.bodyLength = framing.length.value_or(0);

    const std::vector<Line>& ranges = framing.ranges;
    if (!ranges.empty() && (ranges.size() > 1 || !wellFormedRange(ranges.front().text))) {
        for (auto range = ranges.rbegin(); range != ranges.rend(); ++range) {
            head.erase(range->start, range->end - range->start);
            result.headerEnd -= range->end - range->start;
        }
    }
    return result;
}
