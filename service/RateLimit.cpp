#include "RateLimit.h"

namespace {
constexpr size_t keyLimit = 100000;
}

RateLimit::RateLimit(int limit, Clock::duration window) : limit(limit), window(window) {}

int RateLimit::waitFor(const std::string& key, Clock::time_point now) const
{
    const auto it = windows.find(key);
    if (it == windows.end() || now - it->second.start >= window || it->second.events < limit)
        return 0;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(it->second.start + window - now).count();
    return int((left + 999) / 1000);
}

void RateLimit::add(const std::string& key, Clock::time_point now)
{
    if (windows.size() >= keyLimit && !windows.count(key))
        std::erase_if(windows, [&](const auto& entry) { return now - entry.second.start >= window; });
    Window& counted = windows[key];
    if (counted.events == 0 || now - counted.start >= window)
        counted = Window{now, 0};
    ++counted.events;
}

int RateLimit::secondsToWait(const std::string& key)
{
    std::lock_guard<std::mutex> lock(mutex);
    return waitFor(key, Clock::now());
}

void RateLimit::count(const std::string& key)
{
    std::lock_guard<std::mutex> lock(mutex);
    add(key, Clock::now());
}

int RateLimit::take(const std::string& key)
{
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex);
    const int wait = waitFor(key, now);
    if (wait == 0)
        add(key, now);
    return wait;
}
