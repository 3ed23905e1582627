// Names in Polish alphabetical order: a ą b c ć d e ę f g h i j k l ł m n ń
// o ó p q r s ś t u v w x y z ź ż, capitals with their small letters; a run
// of digits by its number ("Kontakt 2" before "Kontakt 10"); spaces and
// other characters before the letters. For the report's index and
// timelines and plumeta-log last-seen.
#pragma once

#include <string>
#include <string_view>

namespace plumeta::reader {

// A key that orders as the name does (`cp1250`: Windows-1250 bytes).
std::string CollationKey(std::string_view cp1250);
// By key, then by the bytes themselves: a whole order.
bool PolishLess(std::string_view a, std::string_view b);

}  // namespace plumeta::reader
