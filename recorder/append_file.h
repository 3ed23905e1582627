// Appends bytes to a file in one write, creating it when missing. The file is
// opened for appending only, so concurrent writers (threads or processes)
// each land whole at the end.
#pragma once

#include <string>

namespace plumeta {

// `path` is used as it stands (relative to the current directory). Answers
// false when the file cannot be opened or the write fails; nothing is thrown.
bool AppendToFile(const std::string& path, const std::string& bytes);

}  // namespace plumeta
