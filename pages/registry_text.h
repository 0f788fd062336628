// Reading a short text value from the registry the way the pages do: a
// 260-byte value at most, its type not checked.
#pragma once

#include <windows.h>

#include <string>

// Opens root\subKey with KEY_READ and reads valueName (up to 260 bytes). True
// when both succeeded; out then holds the value's text up to its first zero
// byte, and a value stored without a terminating zero ends at its size instead
// of running past the buffer. False (key or value missing, value longer than
// 260 bytes) leaves out unchanged.
bool readRegistryText(HKEY root, const char* subKey, const char* valueName, std::string* out);
