#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// The relay for devices that cannot reach each other directly. The HTTP side hands each of the two
// devices a ticket for one session; each connects to the relay port, sends "TARNEL-RELAY <ticket>\n", and
// once both are there the relay copies bytes between them. The devices run their own end-to-end TLS
// through it, so the relay only ever sees ciphertext.
// Anyone can connect, so a connection without a valid ticket yet (a stranger) is held only for one short
// greeting, and only a few per address; when strangers fill their room the oldest of them makes way, so
// a device with a ticket always gets to say it. Connections with a valid ticket are counted apart, and
// per account, so neither strangers nor one account crowd the others out, and the last eighth of them
// is kept for accounts that hold less than a session; a paired session that carries nothing for long is
// closed.
class Relay {
public:
    struct Ticket {
        std::string session;
        std::string ticket;
    };

    struct Limits {
        std::chrono::milliseconds greeting{10000}; // from accept to the whole ticket line
        // A paired session with no bytes either way; links ping every few seconds, ssh every 20 s.
        std::chrono::milliseconds idle{std::chrono::minutes(5)};
        int strangers = 512;            // connections still greeting, from everywhere
        int strangersPerAddress = 8;    // ... from one IPv4 address or IPv6 /64
        int ticketed = 1024;            // connections with a valid ticket, waiting or paired
        int ticketedPerAccount = 64;    // ... of one account's devices
    };

    explicit Relay(Limits limits);
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    // Binds the listener; the port actually bound, or none.
    std::optional<int> listen(const std::string& host, int port);
    int port() const { return boundPort; }
    void stop();

    // The current link session between two devices of `account` (both sides asking get the same session),
    // or a fresh one when `fresh`; a ticket for `device`. `session` names an existing session to join
    // instead; none when it does not exist or `device` is not one of its two ends.
    std::optional<Ticket> ticket(int64_t account, const std::string& device, const std::string& peer, bool fresh,
                                 const std::string& session = {});

    static constexpr int unpairedSeconds = 30;
    // How often a waiting end is checked for having hung up.
    static constexpr std::chrono::milliseconds hangUpCheck{200};

private:
    struct Session {
        std::string ends[2];
        std::string tickets[2];
        int waitingFd[2] = {-1, -1};
        std::string early[2]; // bytes read after the ticket line
        bool taken = false;
        int64_t created = 0;
        std::string pairKey;
        int64_t account = 0;
    };
    // A connection still greeting, by the order it came in.
    struct Stranger {
        int fd;
        std::string address;
    };

    void acceptLoop();
    void serveConnection(int fd, uint64_t stranger, const std::string& address);
    // The ticket line within the greeting's time, or none; `early` gets the bytes after it.
    std::optional<std::string> greet(int fd, std::string* early) const;
    void pair(int fd, const std::string& ticket, const std::string& early);
    // Until the other end came, this one was replaced or the wait is over; true when this end hung up.
    bool waitForPartner(std::unique_lock<std::mutex>& lock, const std::string& id, int end, int fd);
    void expire(int64_t now);
    void splice(int a, const std::string& earlyA, int b, const std::string& earlyB) const;
    // The new connection's place among the strangers; the oldest stranger makes way when they are full.
    std::optional<uint64_t> admitStranger(int fd, const std::string& address);
    void strangerLeft(uint64_t stranger);
    // Takes one ticketed place for `account`, or none when the relay or the account is full.
    bool admitTicketed(int64_t account);
    void ticketedLeft(int64_t account, int count);

    std::mutex mutex;
    std::condition_variable paired;
    std::map<std::string, Session> sessions;            // by session id
    std::map<std::string, std::string> linkSessions;    // pair key -> session id
    std::map<std::string, std::pair<std::string, int>> byTicket; // ticket -> session id, end
    const Limits limits;
    int listenFd = -1;
    int boundPort = 0;
    std::mutex countMutex;
    std::map<std::string, int> strangersFrom; // by address key
    std::map<uint64_t, Stranger> strangers;   // by arrival, oldest first
    uint64_t arrivals = 0;
    int ticketed = 0;                          // under `mutex`
    std::map<int64_t, int> ticketedOf;         // by account, under `mutex`
    std::atomic<bool> stopping{false};
    std::thread acceptor;
};
