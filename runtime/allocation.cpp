// The allocation functions of the Windows programs, in place of the C++
// runtime's.
//
// The runtime's own are written for exceptions: the plain one reports a
// failure by throwing std::bad_alloc and the nothrow one catches it. Either
// links the unwinder, the type records and the terminate handler with its
// name demangler, tens of KiB, into programs that never throw or catch.
// These take memory from the C runtime's heap as the runtime's do. A failed
// nothrow allocation gives null; a failed plain one ends the process, as the
// uncaught exception did.
#include <cstdlib>
#include <new>

namespace {

void* allocate(std::size_t size) noexcept { return std::malloc(size != 0 ? size : 1); }

void* allocateOrEnd(std::size_t size) noexcept {
    void* p = allocate(size);
    if (!p) std::abort();
    return p;
}

}  // namespace

void* operator new(std::size_t size) { return allocateOrEnd(size); }
void* operator new[](std::size_t size) { return allocateOrEnd(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
