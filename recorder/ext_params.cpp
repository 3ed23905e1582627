#include "recorder/ext_params.h"

namespace plumeta {

void AppendExtEntry(std::string& ext, std::string_view paramName, std::string_view paramValue) {
    ext += kExtSeparator;
    ext += paramName;
    ext += '=';
    for (std::size_t from = 0; from < paramValue.size();) {
        std::size_t separator = paramValue.find(kExtSeparator, from);
        if (separator == std::string_view::npos) separator = paramValue.size();
        ext.append(paramValue, from, separator - from);
        from = separator + 1;
    }
}

std::string SetExtParam(const std::string& extText, const std::string& paramName,
                        const std::string& paramValue) {
    if (paramName.empty()) return extText;
    const std::size_t start = extText.find(kExtSeparator + paramName + "=");
    std::string result = extText.substr(0, start);
    AppendExtEntry(result, paramName, paramValue);
    if (start == std::string::npos) return result;
    const std::size_t next = extText.find(kExtSeparator, start + 1);
    if (next != std::string::npos) result.append(extText, next, std::string::npos);
    return result;
}

}  // namespace plumeta
