// Records of one line each with their fields apart by tabs, as the synchronizer's own files
// and the manager stand-in's journal keep them. A field's backslash, tab and line breaks are
// written as "\\", "\t", "\r" and "\n", so no field holds a separator.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zkt {

std::string escapeField(std::string_view field);
// Undoes escapeField. False when field holds what escapeField never writes (a backslash
// before any other character, or a backslash at the end); out then has that character in
// place of the pair, and the last backslash as it is.
bool unescapeField(std::string_view field, std::string& out);
// The pieces of text between the seps: always one more than there are seps.
std::vector<std::string> splitOn(std::string_view text, char sep);

}  // namespace zkt
