#include "tools/plumeta_log/format_pipeline.h"

#include <utility>
#include <vector>

#if !defined(_WIN32)
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

using plumeta::reader::LogRecord;

namespace {

// A batch goes over at kBatch records or kBatchBytes of their texts,
// whichever comes first; a text left with more room than kKeptRoom gives it
// back. So memory stays bounded whatever the descriptions' lengths.
constexpr std::size_t kBatch = 4096;
constexpr std::size_t kBatchBytes = 1 << 20;
constexpr std::size_t kKeptRoom = 1 << 12;
constexpr std::size_t kAhead = 8;  // far enough for a fetch from memory to land

struct Batch {
    std::vector<LogRecord> records = std::vector<LogRecord>(kBatch);
    std::vector<const std::string*> files = std::vector<const std::string*>(kBatch);
    std::vector<uint32_t> numbers = std::vector<uint32_t>(kBatch);
    std::size_t size = 0, bytes = 0;
};

void GiveBackRoom(std::string& text) {
    if (text.capacity() > kKeptRoom) std::string().swap(text);
}

}  // namespace

// The caller fills one batch while the thread formats the other.
struct FormatPipeline::State {
    Format format;
    Ahead ahead;
    Batch filling, formatting;
    bool finished = false;

    void FormatAll(Batch& batch) {
        for (std::size_t i = 0; i < batch.size; ++i) {
            if (ahead && i + kAhead < batch.size) ahead(batch.numbers[i + kAhead], batch.numbers[i + kAhead / 2]);
            LogRecord& record = batch.records[i];
            format(record, *batch.files[i], batch.numbers[i]);
            GiveBackRoom(record.name);
            GiveBackRoom(record.id);
            GiveBackRoom(record.description);
        }
        batch.size = batch.bytes = 0;
    }

#if !defined(_WIN32)
    std::mutex mutex;
    std::condition_variable changed;
    bool handed = false;  // `formatting` holds records for the thread
    bool stop = false;
    std::thread thread;

    void Run() {
        for (;;) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return handed || stop; });
            if (!handed) return;
            lock.unlock();
            FormatAll(formatting);  // the caller waits for `handed` before touching it
            lock.lock();
            handed = false;
            changed.notify_all();
        }
    }

    // Waits until the thread is done with `formatting`, then hands it the
    // full batch.
    void Hand() {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return !handed; });
        std::swap(filling, formatting);
        handed = true;
        changed.notify_all();
    }
#endif
};

FormatPipeline::FormatPipeline(Format format, Ahead ahead) : state_(new State) {
    state_->format = std::move(format);
    state_->ahead = std::move(ahead);
#if !defined(_WIN32)
    try {
        state_->thread = std::thread([state = state_.get()] { state->Run(); });
    } catch (...) {  // no thread to be had: each record is formatted at once
    }
#endif
}

FormatPipeline::~FormatPipeline() { Finish(); }

void FormatPipeline::Add(const LogRecord& record, const std::string& file, uint32_t number) {
    State& s = *state_;
    Batch& batch = s.filling;
    batch.records[batch.size] = record;
    batch.files[batch.size] = &file;
    batch.numbers[batch.size] = number;
    batch.bytes += record.name.size() + record.id.size() + record.description.size();
    if (++batch.size < kBatch && batch.bytes < kBatchBytes) return;
#if !defined(_WIN32)
    if (s.thread.joinable()) {
        s.Hand();
        return;
    }
#endif
    s.FormatAll(batch);
}

void FormatPipeline::Finish() {
    State& s = *state_;
    if (s.finished) return;
    s.finished = true;
#if !defined(_WIN32)
    if (s.thread.joinable()) {
        s.Hand();
        {
            std::unique_lock<std::mutex> lock(s.mutex);
            s.changed.wait(lock, [&] { return !s.handed; });
            s.stop = true;
        }
        s.changed.notify_all();
        s.thread.join();
        return;
    }
#endif
    s.FormatAll(s.filling);
}
