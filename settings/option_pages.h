// The two option pages ("Plumeta" under the host's nodes 46 and 71),
// described to the host one element at a time.
#pragma once

#include <cstdint>

namespace plumeta {

constexpr uint32_t kMainPage = 267000;
constexpr uint32_t kContactPage = 267003;

// Element kinds on the pages.
enum OptionKind : uint32_t {
    kPage = 0x10,  // pages go as kind 0 through AddOptionGroup, which sets the bit
    kGroupStart = 0xF0000,
    kGroupEnd = 0x100000,  // closes the group open on the element's page
    kCheckBox = 0x60000,
    kTextField = 0x80B0040,
    kLabel = 0x90000,      // label of the text field sent just before it
    kInfoText = 0x80000,
};

// 22000: sends every element of both pages in order; answers 1.
int32_t BuildOptionPages();

}  // namespace plumeta
