#include "oracle/BlockMemory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <new>
#include <vector>

namespace {

constexpr std::size_t kHuge = std::size_t{2} << 20; // a huge page
constexpr std::size_t kAlign = 16;

std::size_t pageSize()
{
    static const auto size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return size;
}

std::size_t roundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

// Pieces of one huge page, given up by a table closed or read again, wait
// here for the next read, as the heap keeps freed memory: a new piece from
// the system costs a page fault and clearing, which on a virtual machine can
// be most of the time it takes to store a row. Up to 256 MB wait; beyond
// that, pieces go back to the system.
class SparePieces {
public:
    // Never destroyed: a reader that ends after main() still gives its pieces here.
    static SparePieces& instance()
    {
        alignas(SparePieces) static unsigned char storage[sizeof(SparePieces)];
        static SparePieces* const spares = new (storage) SparePieces;
        return *spares;
    }
    char* take()
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (pieces_.empty())
            return nullptr;
        char* p = pieces_.back();
        pieces_.pop_back();
        return p;
    }
    // Every piece waiting goes back to the system (memory ran short).
    void release()
    {
        std::vector<char*> pieces;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            pieces.swap(pieces_);
        }
        for (char* p : pieces)
            munmap(p, kHuge);
    }
    bool keep(char* piece)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (pieces_.size() >= kMost)
            return false;
        pieces_.push_back(piece);
        return true;
    }

private:
    static constexpr std::size_t kMost = (std::size_t{256} << 20) / kHuge;
    std::mutex mutex_;
    std::vector<char*> pieces_;
};

} // namespace

void ShareHeapsBetweenThreads() { mallopt(M_ARENA_MAX, 2); }

std::optional<std::size_t> AddressSpaceLeft()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::nullopt;
    // The first number of statm is the address space in use, in pages.
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return std::nullopt;
    unsigned long long pages = 0;
    const bool read = std::fscanf(statm, "%llu", &pages) == 1;
    std::fclose(statm);
    if (!read)
        return std::nullopt;
    const unsigned long long used = pages * pageSize();
    return used >= limit.rlim_cur ? 0 : static_cast<std::size_t>(limit.rlim_cur - used);
}

MemoryPiece::MemoryPiece(std::size_t size)
{
    const bool huge = size >= kHuge;
    const std::size_t length = roundUp(size, huge ? kHuge : pageSize());
    if (length == kHuge) {
        if (char* spare = SparePieces::instance().take()) {
            base_ = spare;
            size_ = length;
            return;
        }
    }
    // A huge page must start on its own boundary: take more, give back the ends.
    const std::size_t taken = huge ? length + kHuge : length;
    void* p = mmap(nullptr, taken, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) {
        // The pieces kept for later are the first to go when memory is short.
        SparePieces::instance().release();
        p = mmap(nullptr, taken, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    }
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    char* start = static_cast<char*>(p);
    if (huge) {
        const auto address = reinterpret_cast<std::uintptr_t>(start);
        char* aligned = start + (roundUp(address, kHuge) - address);
        if (aligned > start)
            munmap(start, static_cast<std::size_t>(aligned - start));
        const std::size_t after = taken - static_cast<std::size_t>(aligned - start) - length;
        if (after)
            munmap(aligned + length, after);
        start = aligned;
        madvise(start, length, MADV_HUGEPAGE); // advice only: without it, ordinary pages
    }
    base_ = start;
    size_ = length;
}

MemoryPiece::~MemoryPiece()
{
    if (size() == kHuge && SparePieces::instance().keep(base_))
        return;
    munmap(base_, size());
}

void MemoryPiece::trim(std::size_t used)
{
    const std::size_t keep = roundUp(std::max<std::size_t>(used, 1), pageSize());
    if (keep >= size())
        return;
    munmap(base_ + keep, size() - keep);
    size_.store(keep, std::memory_order_relaxed);
}

BlockMemory::Place BlockMemory::allocate(std::size_t size)
{
    size = roundUp(size, kAlign);
    if (!piece_ || used_ + size > piece_->size()) {
        // A block larger than a quarter of a piece gets one of its own, so
        // that no piece ends with a large unused part.
        if (size > next_ / 4) {
            auto own = std::make_shared<MemoryPiece>(size);
            return {own->data(), std::move(own)};
        }
        piece_ = std::make_shared<MemoryPiece>(next_);
        used_ = 0;
        next_ = std::min(next_ * 2, kHuge);
    }
    char* at = piece_->data() + used_;
    used_ += size;
    return {at, piece_};
}

void BlockMemory::trim()
{
    if (piece_)
        piece_->trim(used_);
    piece_.reset();
    used_ = 0;
}
