/* SPDX-License-Identifier: MIT */
// A caller's output buffer of exactly the size the header documents, placed
// so that its last byte is followed by an inaccessible page: a write (or
// read) one byte past the end faults at once, in plain, sanitized and
// valgrind runs alike.  The bytes start out filled with a marker so a test
// can also see which bytes a call did write.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t size, unsigned char fill = 0xA5) : size_(size) {
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        usable_ = (size + page - 1) / page * page;
        if (usable_ == 0) usable_ = page;
        map_len_ = usable_ + page;
        void *m = mmap(nullptr, map_len_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED) return;
        base_ = static_cast<unsigned char *>(m);
        mprotect(base_ + usable_, page, PROT_NONE);
        data_ = base_ + usable_ - size;
        std::memset(data_, fill, size);
    }
    ~GuardedBuffer() {
        if (base_) munmap(base_, map_len_);
    }
    GuardedBuffer(const GuardedBuffer &) = delete;
    GuardedBuffer &operator=(const GuardedBuffer &) = delete;

    char *text() { return reinterpret_cast<char *>(data_); }
    unsigned char *bytes() { return data_; }
    size_t size() const { return size_; }
    bool ok() const { return data_ != nullptr; }

    // The NUL-terminated text at the start of the buffer; the whole buffer
    // when no NUL was written (never reads past the end).
    std::string str() const {
        const void *nul = std::memchr(data_, 0, size_);
        size_t n = nul ? static_cast<size_t>(static_cast<const unsigned char *>(nul) - data_) : size_;
        return std::string(reinterpret_cast<const char *>(data_), n);
    }

private:
    size_t size_ = 0, usable_ = 0, map_len_ = 0;
    unsigned char *base_ = nullptr;
    unsigned char *data_ = nullptr;
};
