// Waits that fail a test instead of hanging it.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <thread>
#include <type_traits>
#include <utility>

namespace zvtest {

// Runs `call` on a thread of its own; a call that does not return within
// `limit` is a deadlock and ends the run, since a hung thread cannot be
// joined. The thread is joined rather than detached: under Wine a thread
// detached at once sometimes never starts.
template <typename Call>
std::invoke_result_t<Call> CallWithin(std::chrono::seconds limit, const char* what, Call call) {
    std::packaged_task<std::invoke_result_t<Call>()> task(std::move(call));
    auto result = task.get_future();
    std::thread worker(std::move(task));
    if (result.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "%s did not return: deadlock\n", what);
        std::abort();
    }
    worker.join();
    return result.get();
}

// Polls until `condition` holds; false after `limit`.
inline bool WaitFor(std::chrono::seconds limit, const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace zvtest
