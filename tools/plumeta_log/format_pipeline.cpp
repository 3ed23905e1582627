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
// back. So memory stays bounded whatever the descriptions' lengths: the
// texts' room in all kBatches batches within 4 * 4096 * 3 KiB, 48 MiB.
constexpr std::size_t kBatch = 4096;
constexpr std::size_t kBatchBytes = 1 << 20;
constexpr std::size_t kKeptRoom = 1 << 10;
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

// The caller fills batches while the thread formats those filled before,
// up to kBatches in all: a few in hand let each side go on through the
// other's slower stretches (a day's end, a story's write, another thread
// taking its processor) rather than wait at each batch.
constexpr std::size_t kBatches = 4;

struct FormatPipeline::State {
    Format format;
    Number number;
    Ahead ahead;
    Batch batches[kBatches];
    std::size_t filling = 0;  // the caller's batch
    bool finished = false;

    void FormatAll(Batch& batch) {
        if (number) {
            for (std::size_t i = 0; i < kAhead && i < batch.size; ++i) batch.numbers[i] = number(batch.records[i]);
        }
        for (std::size_t i = 0; i < batch.size; ++i) {
            if (number && i + kAhead < batch.size) batch.numbers[i + kAhead] = number(batch.records[i + kAhead]);
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
    std::size_t handed = 0;  // filled and not yet formatted: the `handed` batches before `filling`
    bool stop = false;
    std::thread thread;

    void Run() {
        for (std::size_t next = 0;; next = (next + 1) % kBatches) {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return handed > 0 || stop; });
            if (handed == 0) return;
            lock.unlock();
            FormatAll(batches[next]);  // the caller touches it again only once it is given back
            lock.lock();
            --handed;
            changed.notify_all();
        }
    }

    // Hands the filled batch over, and waits until there is one to fill.
    void Hand() {
        std::unique_lock<std::mutex> lock(mutex);
        ++handed;
        changed.notify_all();
        changed.wait(lock, [&] { return handed < kBatches; });
        filling = (filling + 1) % kBatches;
    }
#endif
};

FormatPipeline::FormatPipeline(Format format, Number number, Ahead ahead) : state_(new State) {
    state_->format = std::move(format);
    state_->number = std::move(number);
    state_->ahead = std::move(ahead);
#if !defined(_WIN32)
    try {
        state_->thread = std::thread([state = state_.get()] { state->Run(); });
    } catch (...) {  // no thread to be had: each record is formatted at once
    }
#endif
}

FormatPipeline::~FormatPipeline() { Finish(); }

void FormatPipeline::Add(const LogRecord& record, const std::string& file) {
    State& s = *state_;
    Batch& batch = s.batches[s.filling];
    batch.records[batch.size] = record;
    batch.files[batch.size] = &file;
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
            s.changed.wait(lock, [&] { return s.handed == 0; });
            s.stop = true;
        }
        s.changed.notify_all();
        s.thread.join();
        return;
    }
#endif
    s.FormatAll(s.batches[s.filling]);
}
