// The two option pages ("Plumeta" under the host's nodes 46 and 71),
// described to the host one element at a time.
#pragma once

#include <cstdint>

namespace plumeta {

constexpr uint32_t kMainPage = 267000;
constexpr uint32_t kContactPage = 267003;

// 22000: sends every element of both pages in order; answers 1.
int32_t BuildOptionPages();

}  // namespace plumeta
