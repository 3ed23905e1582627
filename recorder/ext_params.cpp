#include "recorder/ext_params.h"

namespace plumeta {

std::string SetExtParam(const std::string& extText, const std::string& paramName,
                        const std::string& paramValue) {
    if (paramName.empty()) return extText;
    const std::string_view ext = extText;
    const std::size_t start = ext.find(kExtSeparator + paramName + "=");
    TextBuilder<128> result;
    result.Append(ext.substr(0, start));
    AppendExtEntry(result, paramName, paramValue);
    if (start != std::string_view::npos) {
        const std::size_t next = ext.find(kExtSeparator, start + 1);
        if (next != std::string_view::npos) result.Append(ext.substr(next));
    }
    return std::string(result.view());
}

}  // namespace plumeta
