#include "core/decode_ahead.h"

#include <cstring>
#include <system_error>

DecodeAhead::DecodeAhead(std::size_t bufferSize, std::size_t bufferCount)
    : bufferSize_(bufferSize > 0 ? bufferSize : 1), buffers_(bufferCount > 1 ? bufferCount : 2) {}

DecodeAhead::~DecodeAhead() { stop(); }

bool DecodeAhead::start(Source source) {
    if (running()) return false;
    for (Buffer& buffer : buffers_) {
        if (buffer.bytes.size() != bufferSize_) buffer.bytes.resize(bufferSize_);
        buffer.length = 0;
    }
    source_ = std::move(source);
    filledCount_ = 0;
    ended_ = false;
    stopping_ = false;
    readIndex_ = readOffset_ = fillIndex_ = 0;
    holding_ = false;
    try {
        thread_ = std::thread(&DecodeAhead::decode, this);
    } catch (const std::system_error&) {
        source_ = nullptr;
        return false;
    }
    return true;
}

void DecodeAhead::decode() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            freed_.wait(lock, [this] { return stopping_ || filledCount_ < buffers_.size(); });
            if (stopping_) break;
        }
        // This buffer is the decoder's until it is counted as filled.
        Buffer& buffer = buffers_[fillIndex_];
        std::size_t got = 0;
        while (got < bufferSize_) {
            const std::size_t n = source_(buffer.bytes.data() + got, bufferSize_ - got);
            if (n == 0) break;
            got += n;
        }
        buffer.length = got;
        fillIndex_ = (fillIndex_ + 1) % buffers_.size();
        const bool end = got < bufferSize_;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++filledCount_;
            if (end) ended_ = true;
        }
        filled_.notify_one();
        if (end) return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended_ = true;
    }
    filled_.notify_one();
}

std::size_t DecodeAhead::read(void* buffer, std::size_t count) {
    char* out = static_cast<char*>(buffer);
    std::size_t copied = 0;
    while (copied < count) {
        if (holding_) {
            const Buffer& current = buffers_[readIndex_];
            if (readOffset_ < current.length) {
                const std::size_t left = current.length - readOffset_;
                const std::size_t now = left < count - copied ? left : count - copied;
                std::memcpy(out + copied, current.bytes.data() + readOffset_, now);
                readOffset_ += now;
                copied += now;
                continue;
            }
            // Used up: it goes back to the decoder.
            holding_ = false;
            readIndex_ = (readIndex_ + 1) % buffers_.size();
            readOffset_ = 0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                --filledCount_;
            }
            freed_.notify_one();
        }
        std::unique_lock<std::mutex> lock(mutex_);
        filled_.wait(lock, [this] { return filledCount_ > 0 || ended_; });
        if (filledCount_ == 0) break;
        holding_ = true;
    }
    return copied;
}

void DecodeAhead::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    freed_.notify_one();
    thread_.join();
    source_ = nullptr;
}
