#pragma once
// The rules of the HTTP settings dialog, apart from its widgets: the URL check, the
// change threshold's text and entries, and the request's variables as the dialog edits
// them (one "name=value" entry per line) and as the request keeps them (joined by the
// character 255).
#include <string>
#include <string_view>
#include <vector>

// The warning when the URL box is left with a URL of another scheme.
extern const char* const HTTPURLWarning;  // "URLs must begin with \"http:\"."

// Whether the URL box may be left: empty, or its part before the first "/" is "http:"
// or "https:" without regard to case.
bool HTTPURLAccepted(std::string_view url);

// The threshold typed or chosen: "%" and spaces stripped from both ends, the rest read as
// a number; 0 when it is none.
float ParseChangeThreshold(std::string_view text);
// The threshold as the box shows it: the number in its shortest form and "%".
std::string ChangeThresholdText(float threshold);
// The entries the box offers, "0.00%" to "100%".
const std::vector<std::string>& ChangeThresholdEntries();

// Add is enabled only when both boxes hold text.
bool CanAddHTTPVariable(std::string_view name, std::string_view value);
// Sets the value of name: an entry of the same name (A to Z without regard to case) is
// replaced where it stands, otherwise "name=value" is added at the end.
void SetHTTPVariable(std::vector<std::string>& entries, std::string_view name, std::string_view value);
// The entry's name and value, for loading it back into the boxes.
std::string HTTPVariableName(std::string_view entry);
std::string HTTPVariableValue(std::string_view entry);
// The request's text of the entries (empty ones dropped) and back.
std::string JoinHTTPVariables(const std::vector<std::string>& entries);
std::vector<std::string> SplitHTTPVariables(const std::string& joined);
