#pragma once
// The program's own string table: one row per id with its English, Dutch and
// German text, and the small Swiss German block. Strings.cpp serves lookups
// from it (or from a Harvestrix.res file that replaces it).
#include <cstddef>

namespace hx::shell {

struct StringRow {
    int id;
    const char* english;
    const char* dutch;   // nullptr: no Dutch text
    const char* german;  // nullptr: no German text
};

struct SwissRow {
    int id;
    const char* text;
};

// Rows sorted by id, each id once.
const StringRow* BuiltInStringRows(std::size_t& count);
const SwissRow* BuiltInSwissRows(std::size_t& count);

}  // namespace hx::shell
