#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <mutex>
#include <thread>

// A Unix-socket server on a thread of its own that treats every connection the same scripted way, for
// the failure cases of a control-socket client.
class LineServer {
public:
    enum class Mode {
        reply,       // reads the request line, writes `reply`, closes
        closeAtOnce, // accepts and closes without reading or writing
        silent,      // reads the request line and keeps the connection open without a word
    };

    LineServer(QString path, Mode mode, QByteArray reply = {});
    ~LineServer();
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    bool listening() const { return listenFd >= 0; }
    // The last request line received, without its line feed.
    QByteArray lastRequest() const;

private:
    void serve();
    void handle(int fd);

    QString socketPath;
    Mode mode;
    QByteArray reply;
    int listenFd = -1;
    int wake[2] = {-1, -1};
    std::thread thread;
    mutable std::mutex lock;
    QByteArray request;
};
