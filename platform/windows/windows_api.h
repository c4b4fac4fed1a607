// <windows.h> for the adapters. Its A/W switch macros share names with methods of the platform
// interfaces (GetTempPath, GetShortPathName, LoadString, ...); they are dropped here so that the
// interfaces mean the same in every file, and the adapters call the W functions by name.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// These need <windows.h> first.
#include <shellapi.h>
#include <tlhelp32.h>

#undef DeleteFile
#undef GetEnvironmentVariable
#undef GetFullPathName
#undef GetShortPathName
#undef GetTempPath
#undef LoadString
