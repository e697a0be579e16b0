#pragma once
// Aligned plain-text tables for the listing commands, and the on/off
// switches some of them take.
#include <algorithm>
#include <cctype>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace cli {

// Characters, not bytes: names may be in any language (UTF-8).
inline size_t TextWidth(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s) n += (c & 0xC0) != 0x80;
    return n;
}

// Each column as wide as its widest cell, two blanks apart; the last one is
// not padded, so no line ends in blanks.
inline void PrintTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        if (widths.size() < row.size()) widths.resize(row.size(), 0);
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], TextWidth(row[i]));
    }
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line.append(widths[i] - TextWidth(row[i]) + 2, ' ');
        }
        out << line << "\n";
    }
}

inline std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// "on"/"off"/"1"/"0" (any case) as 1 or 0.
inline std::optional<int> ParseSwitch(const std::string& text) {
    const std::string t = Lower(text);
    if (t == "on" || t == "1") return 1;
    if (t == "off" || t == "0") return 0;
    return std::nullopt;
}

inline std::string SwitchText(bool on) { return on ? "on" : "off"; }

}  // namespace cli
