#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>

// Slows password guessing down, per client address (an IPv6 one by its /64) and per account: after a few wrong passwords each
// further try must wait, the wait doubling with every failure up to a cap, and everything is forgotten
// after a quiet spell. Never a lock: an account's wait holds only addresses from a neighbourhood where
// someone failed, so guessers elsewhere do not keep its owner out while guessers rotating through their
// own addresses stay held; a refused try (one that came too early) neither counts nor extends the wait.
class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;

    // Whole seconds until `address` may try `account` again; 0 when it may now.
    int secondsToWait(const std::string& address, const std::string& account);
    void failed(const std::string& address, const std::string& account);
    // Success forgets the address's failures; the account's stay, for the addresses that failed.
    void succeeded(const std::string& address, const std::string& account);
    // Whether someone in the neighbourhood of `address` failed within the quiet spell; also while the
    // table is too full to tell.
    bool failedNearby(const std::string& address);

private:
    struct Record {
        int failures = 0;
        Clock::time_point last;
    };
    using Records = std::unordered_map<std::string, Record>;

    static Clock::duration wait(const Records& records, const std::string& key, Clock::duration cap,
                                Clock::time_point now);
    static void note(Records& records, const std::string& key, Clock::time_point now);
    bool failedNearby(const std::string& address, Clock::time_point now) const;

    std::mutex mutex;
    Records addresses;
    Records neighbourhoods;
    Records accounts;
};
