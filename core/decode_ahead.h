// Runs a pull-style source (a decoder) on a thread of its own, a few buffers
// ahead of the one reader, so that decoding and what the reader does with
// the bytes (creating and writing files) use two cores at once.
//
// What the reader sees does not change: read() gives exactly the bytes the
// source gives, in the same order, and ends where the source ended (its
// first 0). The source is called from the decoding thread only, and never
// again once it returned 0 or stop() has returned; until then, nothing else
// may touch what it reads. Memory: bufferCount buffers of bufferSize bytes.
//
//   DecodeAhead ahead;
//   if (!ahead.start([&](void* b, std::size_t n) { return decoderRead(b, n); })) ... read directly
//   while ((n = ahead.read(block, sizeof block)) > 0) ...
//   ahead.stop();   // before asking the decoder about errors or closing it
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class DecodeAhead {
public:
    // Up to count bytes placed in buffer; 0 at the end of the data (or on a
    // failure the caller learns about from the source itself afterwards).
    using Source = std::function<std::size_t(void* buffer, std::size_t count)>;

    static constexpr std::size_t kDefaultBufferSize = 256 * 1024;
    static constexpr std::size_t kDefaultBufferCount = 4;

    explicit DecodeAhead(std::size_t bufferSize = kDefaultBufferSize,
                         std::size_t bufferCount = kDefaultBufferCount);
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // Starts decoding. False when no thread could be started (or one is
    // running); the caller then reads the source itself.
    bool start(Source source);
    // Waits until count bytes came or the data ended; returns how many came.
    std::size_t read(void* buffer, std::size_t count);
    // Ends decoding early, or confirms its end: waits for a call to the
    // source in progress and joins the thread. Bytes already decoded can
    // still be read. Safe to call at any time, more than once.
    void stop();
    bool running() const { return thread_.joinable(); }

private:
    struct Buffer {
        std::vector<char> bytes;
        std::size_t length = 0;
    };
    void decode();

    const std::size_t bufferSize_;
    std::vector<Buffer> buffers_;
    Source source_;
    std::thread thread_;

    std::mutex mutex_;
    std::condition_variable filled_;  // the decoder filled a buffer or ended
    std::condition_variable freed_;   // the reader gave a buffer back, or stop
    // Guarded by mutex_: buffers from readIndex_ on, filledCount_ of them,
    // hold decoded bytes; the rest belong to the decoder.
    std::size_t filledCount_ = 0;
    bool ended_ = true;  // nothing to read before start()
    bool stopping_ = false;

    // Reader-side only.
    std::size_t readIndex_ = 0;
    std::size_t readOffset_ = 0;
    bool holding_ = false;  // buffers_[readIndex_] is being read
    // Decoder-side only.
    std::size_t fillIndex_ = 0;
};
