#include "reader/chunk_reader.h"

#include <filesystem>
#include <fstream>

#if !defined(_WIN32)
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace plumeta::reader {

// Two buffers, filled in turn: one is the caller's while the other is read.
struct ChunkReader::State {
    struct Buffer {
        std::unique_ptr<char[]> bytes{new char[kChunkSize]};
        std::size_t size = 0;
        bool full = false;  // read, not yet handed back
        bool last = false;  // the file ends here, or cannot be read on
        bool failed = false;
    };

    std::ifstream in;  // the reading thread's alone once it runs
    bool opened = false;
    Buffer buffers[2];
    int current = -1;  // the caller's buffer, or -1 before the first
    bool done = false;  // the last buffer was handed out

    // Reads the next chunk into `buffer`, all but marking it full.
    void Fill(Buffer& buffer) {
        in.read(buffer.bytes.get(), kChunkSize);
        buffer.size = static_cast<std::size_t>(in.gcount());
        buffer.failed = in.bad();
        buffer.last = !in;
    }

#if !defined(_WIN32)
    std::mutex mutex;
    std::condition_variable changed;
    bool stop = false;
    std::thread reading;

    // The reading thread: fills the buffers in turn, each once the caller
    // has handed it back, until the file ends.
    void Run() {
        for (int i = 0;; i ^= 1) {
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || !buffers[i].full; });
                if (stop) return;
            }
            // The caller touches a buffer only once it is full: read without
            // the lock, then marked full under it.
            Fill(buffers[i]);
            const bool last = buffers[i].last;
            {
                std::lock_guard<std::mutex> lock(mutex);
                buffers[i].full = true;
            }
            changed.notify_all();
            if (last) return;
        }
    }
#endif
};

ChunkReader::ChunkReader(const std::string& path) : state_(new State) {
    state_->in.open(std::filesystem::u8path(path), std::ios::binary);
    state_->opened = state_->in.is_open();
#if !defined(_WIN32)
    if (!state_->opened) return;
    try {
        state_->reading = std::thread([state = state_.get()] { state->Run(); });
    } catch (...) {  // no thread to be had: read in turn instead
    }
#endif
}

ChunkReader::~ChunkReader() {
#if !defined(_WIN32)
    if (state_->reading.joinable()) {
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            state_->stop = true;
        }
        state_->changed.notify_all();
        state_->reading.join();
    }
#endif
}

bool ChunkReader::ok() const { return state_->opened; }

bool ChunkReader::Next(std::string_view& chunk) {
    State& s = *state_;
    chunk = {};
    if (s.done) return true;
    const int next = s.current < 0 ? 0 : s.current ^ 1;
#if !defined(_WIN32)
    if (s.reading.joinable()) {
        std::unique_lock<std::mutex> lock(s.mutex);
        if (s.current >= 0) s.buffers[s.current].full = false;  // handed back
        s.changed.notify_all();
        s.changed.wait(lock, [&] { return s.buffers[next].full; });
    } else
#endif
    {
        s.Fill(s.buffers[next]);
    }
    State::Buffer& buffer = s.buffers[next];
    s.current = next;
    s.done = buffer.last;
    if (buffer.failed) return false;
    chunk = std::string_view(buffer.bytes.get(), buffer.size);
    return true;
}

}  // namespace plumeta::reader
