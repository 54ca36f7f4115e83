#pragma once

// Small text, path and address helpers shared by the network layers.
//
// Texts are byte strings; every position is 1-based and 0 means "not found".
// "Blank" means a space or any control character (code 32 and below).
//
// Everything here is safe to call from any thread.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Classes.h"

// ---- text -----------------------------------------------------------------

// Returns the text before the first delimiter and, when remove is set, leaves
// the text after it in input. Without a delimiter the whole input is returned
// (and input emptied when removing).
// Example: input "HTTP/1.1 200 OK" -> "HTTP/1.1", input "200 OK".
std::string CutToken(std::string& input, const std::string& delimiter = " ", bool remove = true,
                     bool caseSensitive = true);

// Position of the first occurrence of sub in text, or 0 (also for an empty sub).
int FindSubText(const std::string& sub, const std::string& text);

// Position of the last occurrence of sub (letter case ignored) that starts at
// or before start; start -1 means the end of the text. 0 when none.
int LastPosBefore(const std::string& sub, const std::string& text, int start = -1);

// 0-based index of the first element equal to text, or -1.
int IndexInList(const std::string& text, const std::vector<std::string>& list, bool caseSensitive);
int IndexInList(const std::string& text, const TStringList& list, bool caseSensitive);

// Joins path onto basePath, collapses repeated delimiters and resolves ".."
// segments; a path that starts with the delimiter is returned unchanged.
// Example: ResolvePath("/a/b/", "../e.txt") == "/a/e.txt".
std::string ResolvePath(const std::string& basePath, const std::string& path, char delimiter = '/');

// Turns every backslash into a slash, in place.
void ForwardSlashes(std::string& text);

// True when the first four dot-separated tokens are numbers from 0 to 255;
// whatever follows the fourth token is not looked at (1.2.3.4.5 passes).
bool LooksLikeIPv4(const std::string& text);
// False for a dotted text that begins with "." and for IPv4 addresses.
bool LooksLikeHostName(const std::string& text);
// From the first "." to the end ("www.example.org" -> ".example.org"); a
// host without a dot is returned whole.
std::string DomainPart(const std::string& host);

// Position of sub within the first size bytes of memory, or 0 (also for an
// empty sub).
int64_t FindInMemory(const std::string& sub, const void* memory, int64_t size);
