// Counts the heap allocations that the current thread makes through
// operator new while a Scope is alive. The test binary replaces the global
// operator new for this (AllocationCounter.cpp).
#pragma once

namespace allocationcounter {

long long current();
void setCounting(bool on);

class Scope {
public:
    Scope() : start_(current()) { setCounting(true); }
    ~Scope() { setCounting(false); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    long long count() const { return current() - start_; }

private:
    long long start_;
};

}  // namespace allocationcounter
