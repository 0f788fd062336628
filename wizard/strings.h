// String-table access for the whole program.
#pragma once

#include <windows.h>

#include <string>

// The module instance handle, stored first thing by the entry routine; every
// loadResourceString reads from it.
extern HINSTANCE g_instance;

// Text of string-table entry id, of any length; empty when there is none.
std::string loadResourceString(UINT id);
