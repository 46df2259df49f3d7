#include "LoginThrottle.h"

#include "AddressGroup.h"

#include <algorithm>
#include <cctype>

namespace {
constexpr int freeFailures = 5;
constexpr auto firstDelay = std::chrono::seconds(1);
constexpr auto addressCap = std::chrono::minutes(5);
constexpr auto accountCap = std::chrono::minutes(1);
constexpr auto forgetAfter = std::chrono::minutes(15);
constexpr size_t recordLimit = 100000;

// Names compare without case in the database; a long unknown name is cut so keys stay small.
std::string accountKey(const std::string& account)
{
    std::string key = account.substr(0, 64);
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return key;
}
} // namespace

LoginThrottle::Clock::duration LoginThrottle::wait(const Records& records, const std::string& key,
                                                   Clock::duration cap, Clock::time_point now)
{
    const auto it = records.find(key);
    if (it == records.end() || it->second.failures < freeFailures || now - it->second.last > forgetAfter)
        return Clock::duration::zero();
    const int doublings = std::min(it->second.failures - freeFailures, 20);
    const Clock::duration delay = std::min<Clock::duration>(firstDelay * (1 << doublings), cap);
    return std::max(Clock::duration::zero(), it->second.last + delay - now);
}

void LoginThrottle::note(Records& records, const std::string& key, Clock::time_point now)
{
    if (records.size() >= recordLimit && !records.count(key)) {
        std::erase_if(records, [now](const auto& entry) { return now - entry.second.last > forgetAfter; });
        if (records.size() >= recordLimit)
            return;
    }
    Record& record = records[key];
    if (now - record.last > forgetAfter)
        record.failures = 0;
    ++record.failures;
    record.last = now;
}

bool LoginThrottle::failedNearby(const std::string& address, Clock::time_point now) const
{
    const auto it = neighbourhoods.find(AddressGroup::neighbourhood(address));
    if (it != neighbourhoods.end())
        return now - it->second.last <= forgetAfter;
    return neighbourhoods.size() >= recordLimit;
}

int LoginThrottle::secondsToWait(const std::string& address, const std::string& account)
{
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex);
    Clock::duration longest = wait(addresses, AddressGroup::of(address), addressCap, now);
    if (failedNearby(address, now))
        longest = std::max(longest, wait(accounts, accountKey(account), accountCap, now));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(longest).count();
    return int((ms + 999) / 1000);
}

void LoginThrottle::failed(const std::string& address, const std::string& account)
{
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex);
    note(addresses, AddressGroup::of(address), now);
    note(neighbourhoods, AddressGroup::neighbourhood(address), now);
    note(accounts, accountKey(account), now);
}

void LoginThrottle::succeeded(const std::string& address, const std::string&)
{
    std::lock_guard<std::mutex> lock(mutex);
    addresses.erase(AddressGroup::of(address));
}

bool LoginThrottle::failedNearby(const std::string& address)
{
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex);
    return failedNearby(address, now);
}
