// Texts on their way to the event log, standard output or standard error: whatever their
// source (a cloud answer, a manager message, an error), one row stays one line and the
// bearer token never shows.
#pragma once

#include <string>
#include <vector>

namespace tefsync {

// Control characters written visibly: CR, LF and tab as \r, \n and \t, other C0 controls,
// DEL and bytes that are not UTF-8 as \xNN, C1 controls and the Unicode line and paragraph
// separators as \uNNNN. Everything else, accents included, passes unchanged.
std::string escapeControls(const std::string& text);

// Every occurrence of a secret, and every run of at least kMinSecretPiece characters copied
// from one (a token cut short by an answer that ends mid-way), becomes "***".
inline constexpr size_t kMinSecretPiece = 8;
std::string maskSecrets(const std::string& text, const std::vector<std::string>& secrets);

// Both, masking first: the text as it may be shown.
std::string safeText(const std::string& text, const std::vector<std::string>& secrets = {});

}  // namespace tefsync
