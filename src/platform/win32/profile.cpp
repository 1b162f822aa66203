// Reading settings files the way Windows reads INI files: sections "[name]" and lines
// "key=value"; names match without regard to case and with surrounding blanks removed; values
// lose surrounding blanks and one pair of enclosing quotes; lines starting with ';' are
// comments. The first section of a name and the first key of a name in it win.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/win32.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

std::optional<std::string> ReadWholeFile(const char* fileName) {
    std::FILE* file = std::fopen(fileName, "rb");
    if (file == nullptr) return std::nullopt;
    std::string content;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, n);
    const bool failed = std::ferror(file) != 0;  // a directory opens but cannot be read
    std::fclose(file);
    if (failed) return std::nullopt;
    return content;
}

struct Entry {
    std::string_view key;
    std::string_view value;
};

struct Section {
    std::string_view name;
    std::vector<Entry> entries;
};

// The file's sections in order. Views point into `content`.
std::vector<Section> Parse(std::string_view content) {
    constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
    if (content.substr(0, kUtf8Bom.size()) == kUtf8Bom) content.remove_prefix(kUtf8Bom.size());
    std::vector<Section> sections;
    while (!content.empty()) {
        const size_t end = content.find('\n');
        const std::string_view line = Trim(content.substr(0, end));
        content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            const size_t close = line.rfind(']');
            if (close != std::string_view::npos) sections.push_back({Trim(line.substr(1, close - 1)), {}});
            continue;  // a header without ']' is neither a section nor a key
        }
        const size_t equals = line.find('=');
        // Lines before the first section and lines without '=' name no value.
        if (equals == std::string_view::npos || sections.empty()) continue;
        std::string_view value = Trim(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        sections.back().entries.push_back({Trim(line.substr(0, equals)), value});
    }
    return sections;
}

const Section* FindSection(const std::vector<Section>& sections, std::string_view name) {
    for (const Section& section : sections) {
        if (EqualsIgnoringCase(section.name, name)) return &section;
    }
    return nullptr;
}

// One string cut to the buffer: at most size - 1 characters and a terminator.
DWORD CopyString(std::string_view text, LPSTR buffer, DWORD size) {
    const size_t n = text.size() < size ? text.size() : size - 1;
    text.copy(buffer, n);
    buffer[n] = '\0';
    return static_cast<DWORD>(n);
}

// A list of names, each terminated, and one more terminator at the end. A list that does not
// fit keeps what fits, ends with two terminators and counts size - 2.
DWORD CopyList(const std::vector<std::string_view>& names, LPSTR buffer, DWORD size) {
    std::string list;
    for (std::string_view name : names) {
        list.append(name);
        list.push_back('\0');
    }
    if (list.size() + 1 <= size) {
        list.copy(buffer, list.size());
        buffer[list.size()] = '\0';
        return static_cast<DWORD>(list.size());
    }
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    list.copy(buffer, size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    return size - 2;
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer,
                               DWORD size, LPCSTR fileName) {
    if (buffer == nullptr || size == 0) return 0;
    const std::optional<std::string> content = fileName != nullptr ? ReadWholeFile(fileName) : std::nullopt;
    const std::vector<Section> sections = content ? Parse(*content) : std::vector<Section>{};

    if (section == nullptr) {
        std::vector<std::string_view> names;
        for (const Section& s : sections) names.push_back(s.name);
        return CopyList(names, buffer, size);
    }
    const Section* found = FindSection(sections, section);
    if (key == nullptr) {
        std::vector<std::string_view> names;
        if (found != nullptr) {
            for (const Entry& entry : found->entries) names.push_back(entry.key);
        }
        return CopyList(names, buffer, size);
    }
    if (found != nullptr) {
        for (const Entry& entry : found->entries) {
            if (EqualsIgnoringCase(entry.key, key)) return CopyString(entry.value, buffer, size);
        }
    }
    // As Windows: trailing blanks of the default are dropped.
    std::string_view fallback = defaultValue != nullptr ? defaultValue : "";
    while (!fallback.empty() && IsBlank(fallback.back())) fallback.remove_suffix(1);
    return CopyString(fallback, buffer, size);
}
