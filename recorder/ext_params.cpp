#include "recorder/ext_params.h"

#include <algorithm>

namespace plumeta {

std::string SetExtParam(const std::string& extText, const std::string& paramName,
                        const std::string& paramValue) {
    if (paramName.empty()) return extText;
    std::string value = paramValue;
    value.erase(std::remove(value.begin(), value.end(), kExtSeparator), value.end());
    const std::string entry = kExtSeparator + paramName + "=" + value;

    const std::size_t start = extText.find(kExtSeparator + paramName + "=");
    if (start == std::string::npos) return extText + entry;
    const std::size_t next = extText.find(kExtSeparator, start + 1);
    std::string result = extText.substr(0, start) + entry;
    if (next != std::string::npos) result += extText.substr(next);
    return result;
}

}  // namespace plumeta
