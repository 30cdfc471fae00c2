#pragma once
// The line files the monitor keeps (settings, event log): read with a size limit, split
// at any line end, and written whole so that a crash or a full disk mid-write leaves
// the previous file in place.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Lines ended by CR LF, LF or a lone CR; a line end at the very end adds no empty line.
std::vector<std::string> SplitTextLines(std::string_view text);

// Reads the whole file, or only its last maxBytes when it is longer (tail is then set).
// False with errorText when it cannot be read.
bool ReadFileTail(const std::string& fileName, std::uint64_t maxBytes, std::string& text, bool& tail,
                  std::string& errorText);

// Writes the text to a temporary file in the same folder, syncs it and renames it over
// fileName. An existing file keeps its permissions; a new one gets newFileMode. On
// failure the old file is untouched, the temporary removed, and errorText tells why.
bool ReplaceFileText(const std::string& fileName, const std::string& text, unsigned newFileMode,
                     std::string& errorText);

// Whether name (without folder) is one of the temporary files ReplaceFileText writes
// before it renames them to fileName: a save cut short leaves them behind.
bool IsReplaceTemporaryOf(const std::string& fileName, const std::string& name);

// Renames fileName to fileName + suffix, or + suffix + "-2", "-3" ... when that name is
// taken, never replacing an existing file. The new name, or empty (errorText set) when
// the file could not be moved.
std::string SetFileAside(const std::string& fileName, const std::string& suffix, std::string& errorText);
