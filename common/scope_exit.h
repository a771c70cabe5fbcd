// Runs a function when the scope ends, on every path out of it.
#pragma once

#include <utility>

namespace win32 {

template <typename Function>
class ScopeExit {
public:
    explicit ScopeExit(Function function) noexcept : function_(std::move(function)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() { function_(); }

private:
    Function function_;
};

}  // namespace win32
