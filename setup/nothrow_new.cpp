// The setup's allocations are all `new (std::nothrow)`, and the setup is built
// without exceptions. The C++ runtime's nothrow forms call the throwing form
// and catch what it throws, which would bring the whole exception runtime
// (unwinder, terminate handler, name demangler) into the file. These
// replacements ask the C runtime directly and report a failure as null, as
// the standard forms do. The standard deletes release with free, as
// these allocate with malloc. No new-handler is ever installed, so there is
// none to call.
#include <cstdlib>
#include <new>

void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size != 0 ? size : 1); }
