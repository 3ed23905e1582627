// Records formatted on a thread of their own while the next ones are read:
// for csv, json and show, reading and formatting each take about half the
// time. Records go over in batches, in order, copied into batches that keep
// their room, a few in hand at once. Where the build has no threads (the shipped Windows one), each
// is formatted at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "reader/log_reader.h"

class FormatPipeline {
public:
    // `format` is called for every record, in order, on the formatting
    // thread, with the `file` and `number` it was added with; `file` is the
    // caller's and must outlive Finish.
    using Format = std::function<void(const plumeta::reader::LogRecord& record, const std::string& file,
                                      uint32_t number)>;
    // `ahead`, when given, is called on the formatting thread before each
    // record is formatted, with the numbers of the records kAhead and
    // kAhead / 2 places on: a hint to fetch what they need into the cache
    // meanwhile (the nearer one's, fetched, may lead to more).
    using Ahead = std::function<void(uint32_t far, uint32_t near)>;
    explicit FormatPipeline(Format format, Ahead ahead = nullptr);
    ~FormatPipeline();  // Finish
    FormatPipeline(const FormatPipeline&) = delete;
    FormatPipeline& operator=(const FormatPipeline&) = delete;

    void Add(const plumeta::reader::LogRecord& record, const std::string& file, uint32_t number = 0);
    // Formats what is left and stops the thread: every record is formatted
    // when it returns.
    void Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};
