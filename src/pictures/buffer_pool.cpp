#include "pictures/buffer_pool.h"

#include <limits>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define TARSEL_POOL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARSEL_POOL_ASAN 1
#endif
#endif
#ifdef TARSEL_POOL_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace tarsel {

namespace {

// Each buffer is one mapping: a header that records the mapping's length, then the
// buffer itself (64-byte aligned, as the mapping is page aligned).
constexpr std::size_t kHeader = 64;

struct Header {
    std::size_t mapped;
    void* next; // the next buffer to unmap, while the pool frees several
};
static_assert(sizeof(Header) <= kHeader);

// Under AddressSanitizer an idle buffer, the header and the part of a buffer beyond
// what was asked for are unaddressable, so a picture used after it was freed, or
// written past its end, is reported even though the memory stays mapped.
void poison([[maybe_unused]] const void* p, [[maybe_unused]] std::size_t n)
{
#ifdef TARSEL_POOL_ASAN
    ASAN_POISON_MEMORY_REGION(p, n);
#endif
}

void unpoison([[maybe_unused]] const void* p, [[maybe_unused]] std::size_t n)
{
#ifdef TARSEL_POOL_ASAN
    ASAN_UNPOISON_MEMORY_REGION(p, n);
#endif
}

std::size_t pageSize()
{
    static const std::size_t size = [] {
        const long s = ::sysconf(_SC_PAGESIZE);
        return s > 0 ? static_cast<std::size_t>(s) : std::size_t{4096};
    }();
    return size;
}

char* baseOf(void* buffer) { return static_cast<char*>(buffer) - kHeader; }

std::size_t mappedLength(void* buffer)
{
    char* base = baseOf(buffer);
    unpoison(base, kHeader);
    const std::size_t mapped = reinterpret_cast<const Header*>(base)->mapped;
    poison(base, kHeader);
    return mapped;
}

std::size_t capacityOf(void* buffer) { return mappedLength(buffer) - kHeader; }

void setNext(void* buffer, void* next)
{
    char* base = baseOf(buffer);
    unpoison(base, kHeader);
    reinterpret_cast<Header*>(base)->next = next;
    poison(base, kHeader);
}

void* nextOf(void* buffer)
{
    char* base = baseOf(buffer);
    unpoison(base, kHeader);
    void* next = reinterpret_cast<const Header*>(base)->next;
    poison(base, kHeader);
    return next;
}

void* mapBuffer(std::size_t bytes)
{
    const std::size_t page = pageSize();
    if (bytes > std::numeric_limits<std::size_t>::max() - kHeader - page)
        throw std::bad_alloc();
    const std::size_t mapped = (bytes + kHeader + page - 1) / page * page;
    void* base = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        throw std::bad_alloc();
    reinterpret_cast<Header*>(base)->mapped = mapped;
    poison(base, mapped);
    return static_cast<char*>(base) + kHeader;
}

void unmapBuffer(void* buffer)
{
    const std::size_t mapped = mappedLength(buffer);
    // The addresses may be mapped again for something else.
    unpoison(baseOf(buffer), mapped);
    ::munmap(baseOf(buffer), mapped);
}

} // namespace

PictureBufferPool::PictureBufferPool() : PictureBufferPool(Limits{}) {}

PictureBufferPool::PictureBufferPool(Limits limits) : m_limits(limits)
{
    // One more than may stay, so that give() never allocates.
    m_idle.reserve(m_limits.buffers + 1);
}

PictureBufferPool::~PictureBufferPool() { release(); }

PictureBufferPool& PictureBufferPool::shared()
{
    static PictureBufferPool* const pool = new PictureBufferPool();
    return *pool;
}

void* PictureBufferPool::take(std::size_t bytes)
{
    void* buffer = nullptr;
    {
        std::lock_guard lock(m_mutex);
        ++m_taken;
        // The smallest idle buffer that fits and is not more than twice the size (a
        // large one stays for a large picture); of equal ones the one given back last,
        // whose pages are the likeliest to be in the cache still.
        auto best = m_idle.end();
        for (auto it = m_idle.begin(); it != m_idle.end(); ++it)
            if (it->capacity >= bytes && it->capacity - bytes <= bytes &&
                (best == m_idle.end() || it->capacity <= best->capacity))
                best = it;
        if (best != m_idle.end()) {
            buffer = best->buffer;
            m_idleBytes -= best->capacity;
            m_idle.erase(best);
            ++m_reused;
        }
    }
    if (!buffer)
        buffer = mapBuffer(bytes);
    unpoison(buffer, bytes);
    return buffer;
}

void PictureBufferPool::give(void* buffer) noexcept
{
    if (!buffer)
        return;
    const std::size_t capacity = capacityOf(buffer);
    if (capacity > m_limits.bytes || m_limits.buffers == 0) {
        unmapBuffer(buffer);
        return;
    }
    poison(buffer, capacity);
    // The buffers that make room are chained through their headers and unmapped
    // outside the lock (unmapping a large buffer takes a while).
    void* evicted = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_idle.push_back({buffer, capacity}); // within the reserved room: no allocation
        m_idleBytes += capacity;
        while (m_idle.size() > m_limits.buffers || m_idleBytes > m_limits.bytes) {
            const Idle oldest = m_idle.front();
            m_idle.erase(m_idle.begin());
            m_idleBytes -= oldest.capacity;
            setNext(oldest.buffer, evicted);
            evicted = oldest.buffer;
        }
    }
    while (evicted) {
        void* next = nextOf(evicted);
        unmapBuffer(evicted);
        evicted = next;
    }
}

void PictureBufferPool::release() noexcept
{
    for (;;) {
        Idle idle{};
        {
            std::lock_guard lock(m_mutex);
            if (m_idle.empty())
                return;
            idle = m_idle.back();
            m_idle.pop_back();
            m_idleBytes -= idle.capacity;
        }
        unmapBuffer(idle.buffer);
    }
}

PictureBufferPool::Stats PictureBufferPool::stats() const
{
    std::lock_guard lock(m_mutex);
    return {m_idle.size(), m_idleBytes, m_taken, m_reused};
}

} // namespace tarsel
