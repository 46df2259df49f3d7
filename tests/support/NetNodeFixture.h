#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <functional>

// A real `tarnel-net serve` with its own state folder, token file and config.json, and the ways the app
// and ssh talk to it: one control request per connection, and `tarnel-net dial`. Stopped when destroyed.
class NetNodeFixture {
public:
    struct Options {
        QUrl server;
        QString name = QStringLiteral("Test box");
        QString sshUser = QStringLiteral("tester");
        bool allowInbound = true;
        // The public host key the node announces for its ssh server.
        QString hostKeyFile = QStringLiteral("/etc/ssh/ssh_host_ed25519_key.pub");
        qint64 parentPid = 0;
        // Listen and advertise loopback only, sshd target and short intervals; merged over these defaults.
        QJsonObject config;
        // Runs serve through this command first (e.g. `ip netns exec <name>`).
        QStringList launcher;
        // --fallback-server's value (a port nobody serves).
        QString fallbackServer = QStringLiteral("http://127.0.0.1:9/");
    };

    NetNodeFixture();
    ~NetNodeFixture();

    QString stateDir() const { return dir.filePath(QStringLiteral("net")); }
    QString tokenPath() const;
    void writeToken(const QString& token) const;
    // A client key line for --pubkey-file (made once per fixture).
    QString publicKeyPath() const { return dir.filePath(QStringLiteral("id_ed25519.pub")); }
    QString privateKeyPath() const { return dir.filePath(QStringLiteral("id_ed25519")); }
    // That key's line, without its line feed (for authorized_keys).
    QString publicKeyLine() const;
    // The folder that holds the state folder and the client key, laid out as the app's data folder.
    QString dataDir() const { return dir.path(); }

    // Starts serve and waits until its control socket answers; false when it did not.
    bool start(const Options& options);
    QProcess& process() { return serve; }
    // The exit status once it ended within the time, else -1.
    int waitForExit(int timeoutMs = 10000);
    void stop();
    // Everything serve wrote so far.
    QString output() const;
    // The port serve listens on for peers (from its start line).
    int listenPort() const;

    // One control exchange; the reply line, or empty when none came.
    QByteArray requestLine(const QByteArray& line, int timeoutMs = 10000) const;
    QJsonObject request(const QJsonObject& request, int timeoutMs = 10000) const;
    QJsonObject status() const { return request(QJsonObject{{QStringLiteral("cmd"), QStringLiteral("status")}}); }
    QString deviceId() const;
    // The status document says the account service answered its last sync.
    bool siteOk() const;
    // This node's entry for a peer in its status document (empty when not listed).
    QJsonObject peer(const QString& id) const;

    static QString binary();
    // Runs `tarnel-net dial --state <state> <device> <port>` with `input` on its standard input.
    struct DialRun {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    DialRun dial(const QString& device, int port, const QByteArray& input = {}) const;
    // The ssh command line that reaches `device` through dial, for `QProcess`.
    QStringList sshArguments(const QString& device, const QString& user, const QString& command) const;

private:
    QTemporaryDir dir;
    mutable QProcess serve;
    mutable QByteArray log;
};
