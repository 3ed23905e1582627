// A file's bytes in chunks, in order, for the reader's passes. Where the
// build has threads (not the shipped Windows one, whose compiler has none),
// the next chunk is read on a thread of its own while the caller works on
// this one: the system's copy of the bytes then costs the caller no time.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace plumeta::reader {

class ChunkReader {
public:
    static constexpr std::size_t kChunkSize = 1 << 20;

    // Opens `path` (a UTF-8 name); ok() says whether it could.
    explicit ChunkReader(const std::string& path);
    ~ChunkReader();  // stops and waits for the reading thread
    ChunkReader(const ChunkReader&) = delete;
    ChunkReader& operator=(const ChunkReader&) = delete;

    bool ok() const;
    // The next chunk (at most kChunkSize bytes, owned here and valid until
    // the next call), empty at the file's end. False when the file cannot be
    // read on.
    bool Next(std::string_view& chunk);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace plumeta::reader
