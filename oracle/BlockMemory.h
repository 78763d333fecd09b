#pragma once

// Memory for the snapshot's blocks. A table of millions of rows is copied
// into one bump-allocated run of large pieces taken from the system at once
// (those of 2 MB and more advised for huge pages): a few page faults instead
// of one every 4 KB, no heap bookkeeping a block, and a closed table's
// memory goes back to the system whole.
//
// A piece is shared by the blocks carved from it (each holds a reference),
// so blocks can move to another snapshot, on another thread, while the
// snapshot that filled them goes on carving later parts of the same piece.

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>

// Call first in main: threads share two heaps instead of one each. A heap of
// its own reserves 64 MB of address space for every thread that allocates;
// under an address-space limit that would leave the window no room to start
// the threads it paints with once a table fills the rest.
void ShareHeapsBetweenThreads();

// How much more address space the process may take before its limit
// (RLIMIT_AS, what a small machine or a container sets); nothing when no
// limit is set.
std::optional<std::size_t> AddressSpaceLeft();

class MemoryPiece final {
public:
    explicit MemoryPiece(std::size_t size);
    ~MemoryPiece();
    MemoryPiece(const MemoryPiece&) = delete;
    MemoryPiece& operator=(const MemoryPiece&) = delete;

    char* data() const { return base_; }
    std::size_t size() const { return size_.load(std::memory_order_relaxed); }
    // Gives the pages past `used` back to the system.
    void trim(std::size_t used);

private:
    char* base_ = nullptr;
    std::atomic<std::size_t> size_ = 0; // trimmed by the filling thread, read by any
};

class BlockMemory final {
public:
    struct Place {
        char* at;
        std::shared_ptr<MemoryPiece> piece;
    };
    // `size` bytes, aligned for any block, for keeps.
    Place allocate(std::size_t size);
    // The current piece's unused end goes back to the system (when the
    // snapshot is complete); later blocks start a new piece.
    void trim();

private:
    std::shared_ptr<MemoryPiece> piece_;
    std::size_t used_ = 0;
    std::size_t next_ = std::size_t{64} << 10; // the next piece's size: doubles up to 2 MB
};
