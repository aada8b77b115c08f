// The one wildcard matcher: folder searches and the browser's file filter.
#pragma once

#include <string>

// `*` matches any run of characters, `?` exactly one. With ignoreCase,
// ASCII, Latin-1 and the full-width Latin letters fold together.
bool wildcardMatch(const std::u16string& pattern, const std::u16string& name, bool ignoreCase);
