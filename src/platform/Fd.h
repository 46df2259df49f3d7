#pragma once

#include <QByteArray>

// One owned file descriptor, closed when it goes.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { close(); }
    int get() const { return fd; }
    bool open() const { return fd >= 0; }
    void reset(int value);
    void close();

    // A pipe whose ends are closed on exec; false when none could be made.
    static bool makePipe(Fd& readEnd, Fd& writeEnd);
    static void setNonBlocking(int fd);
    // Reads what is there now into `into`, up to just past `cap`; false (and closed) at end of file or on
    // an error.
    static bool drain(Fd& fd, QByteArray& into, qsizetype cap);

private:
    int fd = -1;
};
