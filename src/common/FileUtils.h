#pragma once
// Whole-file reading and writing, folder creation, drive types and the classic path
// helpers.
//
// Paths in the program's texts are written the Windows way ("Quillmoor\Corvale\");
// NativePath is the one place where they become Linux paths, and every helper here that
// touches the file system passes its path through it. Names are bytes: they reach the
// system unchanged.
#include <cstddef>
#include <string>

// Every "\" becomes "/".
std::string NativePath(const std::string& path);

// The whole file into text; true when it could be opened and read to its end. The text
// is left as it was when not.
bool ReadWholeFile(const std::string& fileName, std::string& text);
// Creates or truncates the file and writes the text; true when every byte was written.
bool WriteWholeFile(const std::string& fileName, const std::string& text);
// Writes all size bytes to the descriptor, going on after interrupted or partial
// writes; false with errno set when it cannot.
bool WriteAll(int fd, const char* data, std::size_t size);
bool WriteBufferToFile(const std::string& fileName, const void* buffer, std::size_t size);

// Creates the folder and every missing folder above it; true when it exists afterwards
// (at once when it existed). One trailing delimiter is ignored. On a failure the
// system error is kept as the thread's last error and the next levels are still tried.
bool ForceDirectories(const std::string& path);

// 4 (network) for a path beginning with "\\" without asking the system, -1 for an empty
// path or one beginning with "-", 1 (no root) for a Windows drive path ("D:\..."), else
// GetDriveType of the path: 0 unknown, 1 no root, 2 removable, 3 fixed, 4 network,
// 5 optical, 6 RAM disk.
int DriveTypeOf(const std::string& path);

// Linux file systems keep no short (8.3) alternate names and names are case-sensitive,
// so every component keeps the name it is stored under, which is the one written: the
// path comes back unchanged.
std::string ShortPathName(const std::string& path);

// Classic path text helpers; both "\" and "/" count as delimiters.
// The path with a delimiter at its end ("/" added when it has none); an empty path stays
// empty, as it means the current folder and not the root.
std::string IncludeTrailingPathDelimiter(const std::string& path);
// Everything up to and including the last delimiter.
std::string ExtractFilePath(const std::string& fileName);
// Everything after the last delimiter.
std::string ExtractFileName(const std::string& fileName);
// The name with its extension (from the last "." of the last component) replaced by
// extension, or extension appended when it has none.
std::string ChangeFileExt(const std::string& fileName, const std::string& extension);
// True for an existing entry that is not a folder.
bool FileExists(const std::string& fileName);
// A file without write rights is one its owner wants left alone, as the read-only
// attribute says elsewhere; root may write anything, so the mode bits say it too.
// False for a file that does not exist.
bool IsReadOnlyFile(const std::string& fileName);
bool DirectoryExists(const std::string& path);
