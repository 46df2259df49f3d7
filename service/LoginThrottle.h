#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

// Slows password guessing down, per client address (an IPv6 one by its /64) and per account: after a few wrong passwords each
// further try must wait, the wait doubling with every failure up to a cap, and everything is forgotten
// after a quiet spell. Never a lock: the real user waits at most the cap, and a refused try (one that
// came too early) neither counts nor extends the wait.
class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;

    // Whole seconds until `address` may try `account` again; 0 when it may now.
    int secondsToWait(const std::string& address, const std::string& account);
    void failed(const std::string& address, const std::string& account);
    void succeeded(const std::string& address, const std::string& account);

private:
    struct Record {
        int failures = 0;
        Clock::time_point last;
    };
    using Records = std::unordered_map<std::string, Record>;

    static Clock::duration wait(const Records& records, const std::string& key, Clock::duration cap,
                                Clock::time_point now);
    static void note(Records& records, const std::string& key, Clock::time_point now);

    std::mutex mutex;
    Records addresses;
    Records accounts;
};
