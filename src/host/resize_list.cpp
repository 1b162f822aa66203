#include "host/resize_list.h"

#include <optional>
#include <string_view>

namespace qv::host {
namespace {

// The next token ending at `delimiter` (or at the end of the text), after skipping a run of
// delimiters; the cursor moves past the delimiter that ended it. None when only delimiters
// are left.
std::optional<std::string_view> NextToken(std::string_view text, size_t& cursor, char delimiter) {
    while (cursor < text.size() && text[cursor] == delimiter) ++cursor;
    if (cursor >= text.size()) return std::nullopt;
    size_t end = text.find(delimiter, cursor);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view token = text.substr(cursor, end - cursor);
    cursor = end < text.size() ? end + 1 : end;
    return token;
}

bool IsLeadingBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Leading blanks skipped, then the digits up to the first other character; no digits is 0.
// A value beyond int32 stays at INT32_MAX.
int32_t DecimalValue(std::string_view token) {
    size_t i = 0;
    while (i < token.size() && IsLeadingBlank(token[i])) ++i;
    int64_t value = 0;
    for (; i < token.size() && token[i] >= '0' && token[i] <= '9'; ++i) {
        value = value * 10 + (token[i] - '0');
        if (value > INT32_MAX) return INT32_MAX;
    }
    return static_cast<int32_t>(value);
}

}  // namespace

ResizeList ParseResizeList(const char* text) {
    ResizeList list;
    if (text == nullptr) return list;
    const std::string_view all(text);
    size_t cursor = 0;
    while (list.count < kMaxPresets) {
        const std::optional<std::string_view> width = NextToken(all, cursor, 'x');
        if (!width) break;
        const std::optional<std::string_view> height = NextToken(all, cursor, ',');
        if (!height) break;  // a pair without its height ends the list
        list.widths[list.count] = DecimalValue(*width);
        list.heights[list.count] = DecimalValue(*height);
        ++list.count;
    }
    return list;
}

}  // namespace qv::host
