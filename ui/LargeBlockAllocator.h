// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <memory>
#include <new>

#include <sys/mman.h>

namespace zodaru {

// An allocator for arrays that may grow to tens of megabytes (the cells of a directory of
// a hundred thousand entries), built in one go on the main thread. Such a block is mapped on
// its own and asks for huge pages: filling it then takes a few page faults instead of
// thousands, each of which costs the window time. Smaller arrays come from the heap.
template <typename T>
class LargeBlockAllocator {
public:
    using value_type = T;
    static constexpr std::size_t kLargeBytes = std::size_t(4) << 20;

    LargeBlockAllocator() = default;
    template <typename U>
    LargeBlockAllocator(const LargeBlockAllocator<U> &) noexcept
    {
    }

    T *allocate(std::size_t n)
    {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kLargeBytes)
            return std::allocator<T>().allocate(n);
        void *block = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED)
            throw std::bad_alloc();
        ::madvise(block, bytes, MADV_HUGEPAGE); // a hint: without it the block still works
        return static_cast<T *>(block);
    }

    void deallocate(T *p, std::size_t n) noexcept
    {
        const std::size_t bytes = n * sizeof(T);
        if (bytes < kLargeBytes)
            std::allocator<T>().deallocate(p, n);
        else
            ::munmap(p, bytes);
    }

    template <typename U>
    bool operator==(const LargeBlockAllocator<U> &) const noexcept
    {
        return true;
    }
};

} // namespace zodaru
