// Splitting a loop over several threads, for the weight lists and the passes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

namespace tz::detail {

// Runs part(t, first, end) for t = 0 … threads − 1 over `units` split evenly; the caller's
// thread takes part 0. The helpers are joined before returning, and a failure in any part (an
// allocation) is rethrown on the caller's thread.
template <typename Part>
void inParallel(int threads, int units, const Part& part) {
    const auto boundary = [&](int t) {
        return static_cast<int>(static_cast<std::int64_t>(units) * t / threads);
    };
    std::vector<std::exception_ptr> failures(static_cast<std::size_t>(threads));
    const auto guarded = [&](int t) {
        try {
            part(t, boundary(t), boundary(t + 1));
        } catch (...) {
            failures[static_cast<std::size_t>(t)] = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> helpers;
        helpers.reserve(static_cast<std::size_t>(threads - 1));
        for (int t = 1; t < threads; ++t) {
            helpers.emplace_back(guarded, t);
        }
        guarded(0);
    }
    for (const std::exception_ptr& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
}

}  // namespace tz::detail
