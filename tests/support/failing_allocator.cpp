// The program's global operator new and delete over malloc and free, with a
// per-thread countdown that tests arm through AllocationLimit.
#include "support/failing_allocator.h"

#include <cstdlib>
#include <new>

namespace {

thread_local bool t_armed = false;
thread_local long t_left = 0;
thread_local bool t_refused = false;

void* Allocate(std::size_t size) {
    if (t_armed) {
        if (t_left <= 0) {
            t_refused = true;
            return nullptr;
        }
        --t_left;
    }
    return std::malloc(size != 0 ? size : 1);
}

}  // namespace

namespace testing_support {

AllocationLimit::AllocationLimit(long allowed) {
    t_left = allowed;
    t_refused = false;
    t_armed = true;
}

AllocationLimit::~AllocationLimit() { t_armed = false; }

bool AllocationLimit::refused() const { return t_refused; }

}  // namespace testing_support

void* operator new(std::size_t size) {
    void* block = Allocate(size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
