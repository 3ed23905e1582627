// The option pages as a settings window would lay them out, as one static
// HTML page for a person to look at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace emulator {

struct PageElement {
    uint32_t parent, id, kind, param;
    bool hasText;
    std::string text;   // UTF-8; caption 0x01 hint
    std::string value;  // the bound cell's current value, UTF-8
};

// Writes the page through a temporary file, so that a failed run leaves no
// half-written page. False when it could not be written.
bool WritePagesFile(const std::string& path, const std::vector<PageElement>& elements);

}  // namespace emulator
