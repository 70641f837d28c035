#pragma once

#include <initializer_list>
#include <string>

// Path rewriting between the server's form (7.0/access2/a/b.dat) and the local form. Every
// routine accepts "/" and "\" alike as separators.

bool IsSeparator(char c);
// "/" turns every "\" into "/"; any other separator turns every "/" into "\".
void ConvertSeparators(std::string& path, char separator);
bool StripTrailingSeparators(std::string& path);
bool StripLeadingSeparator(std::string& path);
bool RemoveFileName(std::string& path);
bool StripRootPrefix(std::string& path);
void MakeRelativePath(std::string& path, const std::string& base);
// The pieces end at the first empty one, which is still appended with its separator.
void JoinPath(std::string& result, char separator, std::initializer_list<std::string> pieces);
