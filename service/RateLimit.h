#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

// At most `limit` events per key in each `window`, counted from a key's first event in it. Keys
// whose window is over are forgotten, so the table stays small.
class RateLimit {
public:
    using Clock = std::chrono::steady_clock;

    RateLimit(int limit, Clock::duration window);

    // Whole seconds until `key` may have another event; 0 when it may now.
    int secondsToWait(const std::string& key);
    void count(const std::string& key);
    // secondsToWait(), counting the event when it may happen now.
    int take(const std::string& key);

private:
    struct Window {
        Clock::time_point start;
        int events = 0;
    };

    int waitFor(const std::string& key, Clock::time_point now) const;
    void add(const std::string& key, Clock::time_point now);

    const int limit;
    const Clock::duration window;
    std::mutex mutex;
    std::unordered_map<std::string, Window> windows;
};
