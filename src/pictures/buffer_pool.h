// Picture-sized buffers kept for the next picture. Every conversion makes buffers of
// one to tens of megabytes (the decoded picture, the shown picture, the crop) and
// drops them again a moment later. Mapped afresh each time, every page of every
// buffer is faulted in and cleared by the system again; a photo's decode took up to
// twice as long that way. The pool keeps a few freed buffers and hands one out again
// when a picture fits into it. It owns its buffers' memory itself (mapped, not from the
// heap), so the rest of the program's allocations are not affected by what it keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tarsel {

class PictureBufferPool {
public:
    struct Limits {
        // At most this many idle buffers, together at most `bytes`; the ones given
        // back longest ago go first. A buffer larger than `bytes` is never kept.
        std::size_t buffers = 6;
        std::size_t bytes = 64u * 1024 * 1024;
    };

    // Requests below this go to the heap (PixelAllocator): only buffers whose pages
    // cost something to fault in are worth keeping.
    static constexpr std::size_t kMinBytes = 256 * 1024;

    PictureBufferPool();
    explicit PictureBufferPool(Limits limits);
    ~PictureBufferPool(); // frees the idle buffers; every buffer must have been given back
    PictureBufferPool(const PictureBufferPool&) = delete;
    PictureBufferPool& operator=(const PictureBufferPool&) = delete;

    // The process's pool, used by every picture's pixels. It lives until the process
    // ends, so a picture destroyed late (a static, a thread still running) still has it.
    static PictureBufferPool& shared();

    // A buffer of at least `bytes`, 64-byte aligned; an idle one when one fits (at
    // most twice the size asked for), else a new one. Its content is undefined: it may
    // hold a previous picture, so the user writes every byte it reads. Throws
    // std::bad_alloc when no memory can be had.
    void* take(std::size_t bytes);

    // Gives back a buffer from take() of this pool (null is ignored). Kept for the next
    // take() as far as the limits allow, else freed at once.
    void give(void* buffer) noexcept;

    // Frees every idle buffer.
    void release() noexcept;

    struct Stats {
        std::size_t idleBuffers = 0;
        std::size_t idleBytes = 0;
        std::uint64_t taken = 0;  // take() calls
        std::uint64_t reused = 0; // of which served by an idle buffer
    };
    Stats stats() const;

private:
    struct Idle {
        void* buffer;
        std::size_t capacity;
    };
    const Limits m_limits;
    mutable std::mutex m_mutex;
    std::vector<Idle> m_idle; // the one given back longest ago first; room reserved once
    std::size_t m_idleBytes = 0;
    std::uint64_t m_taken = 0;
    std::uint64_t m_reused = 0;
};

} // namespace tarsel
