// An allocation-failure hook for tests that link the code under test into
// their own program: failing_allocator.cpp replaces the program's global
// operator new, which then fails (std::bad_alloc, or null for the nothrow
// forms) once a limit set here is used up.
#pragma once

namespace testing_support {

// While it exists, the next `allowed` allocations of this thread succeed
// and every later one fails. Not nestable.
class AllocationLimit {
public:
    explicit AllocationLimit(long allowed);
    ~AllocationLimit();
    AllocationLimit(const AllocationLimit&) = delete;
    AllocationLimit& operator=(const AllocationLimit&) = delete;

    // True when at least one allocation was refused.
    bool refused() const;
};

}  // namespace testing_support
