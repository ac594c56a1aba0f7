// The rule for package entry names, shared by the launcher's extractor and the release tool so
// that a package the tool makes is one the launcher unpacks. No Windows calls in here.
#pragma once

#include <string>

// Whether an entry name stays below the destination: not absolute, no drive or UNC prefix, no
// ':' at all, no ".." (or other dots-only) component, no Windows device name as a component.
// Both '/' and '\' separate components.
bool IsSafeEntryName(const std::wstring& name);
