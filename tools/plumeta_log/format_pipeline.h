// Records formatted on a thread of their own while the next ones are read:
// for csv, json and show, reading and formatting each take about half the
// time. Records go over in batches, in order, copied into batches that keep
// their room, a few in hand at once. Where the build has no threads (the
// shipped Windows one), each is formatted at once.
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
    // thread, with the `file` it was added with (the caller's, which must
    // outlive Finish) and its number.
    using Format = std::function<void(const plumeta::reader::LogRecord& record, const std::string& file,
                                      uint32_t number)>;
    // `number`, when given, numbers the records, in order, on the formatting
    // thread (kAhead records before each is formatted, so that `ahead` has
    // them); else each is 0.
    using Number = std::function<uint32_t(const plumeta::reader::LogRecord& record)>;
    // `ahead`, when given, is called on the formatting thread before each
    // record is formatted, with the numbers of the records kAhead and
    // kAhead / 2 places on: a hint to fetch what they need into the cache
    // meanwhile (the nearer one's, fetched, may lead to more).
    using Ahead = std::function<void(uint32_t later, uint32_t sooner)>;  // not far, near: Windows's macros
    explicit FormatPipeline(Format format, Number number = nullptr, Ahead ahead = nullptr);
    ~FormatPipeline();  // Finish
    FormatPipeline(const FormatPipeline&) = delete;
    FormatPipeline& operator=(const FormatPipeline&) = delete;

    void Add(const plumeta::reader::LogRecord& record, const std::string& file);
    // Formats what is left and stops the thread: every record is formatted
    // when it returns.
    void Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};
