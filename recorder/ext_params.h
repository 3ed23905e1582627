// Ext strings: the named parameters a history entry carries, each entry
// 0x1A, name, "=", value, one after another.
#pragma once

#include <string>
#include <string_view>

#include "recorder/text_builder.h"

namespace plumeta {

constexpr char kExtSeparator = '\x1A';

// Answers `extText` with `paramName` set to `paramValue`: the first entry of
// that name is replaced, or the entry is added at the end. An empty name
// answers `extText` unchanged. A separator inside the value is dropped, so
// one call always yields exactly one entry (a nickname from the network
// cannot smuggle in parameters of its own).
std::string SetExtParam(const std::string& extText, const std::string& paramName,
                        const std::string& paramValue);
// Appends the one entry `paramName`=`paramValue` to `ext`, separators in the
// value dropped: SetExtParam on a text that has no such entry yet.
template <std::size_t N>
void AppendExtEntry(TextBuilder<N>& ext, std::string_view paramName, std::string_view paramValue) {
    ext.Push(kExtSeparator);
    ext.Append(paramName);
    ext.Push('=');
    for (std::size_t from = 0; from < paramValue.size();) {
        std::size_t separator = paramValue.find(kExtSeparator, from);
        if (separator == std::string_view::npos) separator = paramValue.size();
        ext.Append(paramValue.substr(from, separator - from));
        from = separator + 1;
    }
}

}  // namespace plumeta
