// tarnel-accountd's own rules: invitations, names, disabled accounts, token revocation, release offers,
// device ownership and upload limits, through its HTTP API and admin command line.
#include "support/AccountServiceFixture.h"
#include "support/Processes.h"
#include "support/TempDataDir.h"
#include "support/WaitUntil.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <functional>
#include <memory>
#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QJsonObject registration(const QString& name, const QString& invite, const QString& password = QStringLiteral("secret1"))
{
    return QJsonObject{{"username", name}, {"password", password}, {"displayName", name},
                       {"invite", invite}, {"client", "app"}};
}
QJsonObject login(const QString& name, const QString& password)
{
    return QJsonObject{{"username", name}, {"password", password}, {"client", "app"}};
}
const QByteArray jpegMagic("\xff\xd8\xff\xe0", 4);
const QByteArray pngMagic("\x89PNG\r\n\x1a\n", 8);

// A feedback form with these images (name, bytes) and this text.
QByteArray feedbackForm(const QList<std::pair<QByteArray, QByteArray>>& images, const QByteArray& text = "hi")
{
    QByteArray form = "--b\r\nContent-Disposition: form-data; name=\"text\"\r\n\r\n" + text + "\r\n";
    for (const auto& [name, bytes] : images)
        form += "--b\r\nContent-Disposition: form-data; name=\"images\"; filename=\"" + name +
                "\"\r\nContent-Type: image/jpeg\r\n\r\n" + bytes + "\r\n";
    return form + "--b--\r\n";
}

QJsonObject checkIn(int build = 1, const QString& channel = QStringLiteral("stable"))
{
    return QJsonObject{{"version", "0.1.0"}, {"build", build}, {"channel", channel}, {"os", "Debian GNU/Linux 12.11.0"},
                       {"model", ""}, {"servers", 0}, {"shots", 0}};
}
} // namespace

class AccountServiceTest : public QObject {
    Q_OBJECT
    AccountServiceFixture service{AccountServiceFixture::Options{false, false}};

    QString release(const QString& channel, int build, bool publish = true)
    {
        QTemporaryFile archive;
        archive.setAutoRemove(true);
        if (!archive.open())
            return {};
        archive.write("zip " + QByteArray::number(build));
        archive.flush();
        const auto added = service.admin({"releases", "add", "--channel", channel, "--version",
                                          QStringLiteral("0.%1.0").arg(build), "--build", QString::number(build),
                                          "--file", archive.fileName()});
        if (added.status != 0)
            return {};
        if (publish)
            service.admin({"releases", "publish", added.out.trimmed()});
        return added.out.trimmed();
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(service.start(), qPrintable(service.error())); }

    // The hooks hand out request bodies, passwords included: the shipped service refuses to start with them.
    void shippedServiceRefusesTestHooks()
    {
        QProcess shipped;
        shipped.start(AccountServiceFixture::shippedBinary(),
                      {"--db", service.databasePath() + ".shipped", "serve", "--listen", "127.0.0.1:0", "--test-hooks"});
        const bool ended = shipped.waitForFinished(10000);
        if (!ended)
            shipped.kill();
        QVERIFY(ended);
        QCOMPARE(shipped.exitCode(), 2);
        QVERIFY(QString::fromUtf8(shipped.readAllStandardError()).contains(QStringLiteral("没有测试钩子")));
    }

    void invitationsAreCheckedAndCounted()
    {
        const QString twice = service.createInvite({"--uses", "2"});
        QCOMPARE(service.post("api/register", registration("ann", twice)).status, 200);
        QCOMPARE(service.post("api/register", registration("ben", twice)).status, 200);
        auto usedUp = service.post("api/register", registration("cat", twice));
        QCOMPARE(usedUp.status, 403);
        QCOMPARE(usedUp.json().value("error").toString(), QStringLiteral("邀请码已经用完了"));

        const QString revoked = service.createInvite();
        QCOMPARE(service.admin({"invite", "revoke", revoked}).status, 0);
        QCOMPARE(service.admin({"invite", "revoke", "NOPE"}).status, 1);
        const QList<std::pair<QString, QString>> refused{
            {service.createInvite({"--expires", "2000-01-01T00:00:00Z"}), "邀请码已过期"}, {revoked, "邀请码已作废"}, {"NOPE", "邀请码不对"}};
        for (const auto& [code, error] : refused)
            QCOMPARE(service.post("api/register", registration("cat", code)).json().value("error").toString(), error);

        // A refused registration does not spend the invitation.
        const QString once = service.createInvite();
        QCOMPARE(service.post("api/register", registration("ANN", once)).status, 409);
        QCOMPARE(service.post("api/register", registration("bad name", once)).status, 400);
        QCOMPARE(service.post("api/register", registration("dan", once, "12345")).status, 400);
        QJsonObject lineBreak = registration("dan", once);
        lineBreak.insert("username", "dan\n"); // a name matches whole, a trailing line break too
        QCOMPARE(service.post("api/register", lineBreak).status, 400);
        QCOMPARE(service.post("api/register", registration("dan", once, "123456")).status, 200);
        QVERIFY(service.admin({"invite", "list"}).out.contains(once + "\t1/1\t"));
        QVERIFY(service.admin({"users", "list"}).out.contains("dan\tdan\tuser\tactive"));
    }

    // A mistyped database path must not quietly give a code that no running service knows.
    void adminCommandsUseOnlyAnExistingDatabase()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("accounts.db"));
        QProcess cli;
        cli.start(AccountServiceFixture::shippedBinary(), {"--db", missing, "invite", "create"});
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitCode(), 1);
        QVERIFY(cli.readAllStandardOutput().isEmpty());
        QVERIFY(QString::fromUtf8(cli.readAllStandardError()).contains(missing));
        QVERIFY(!QFile::exists(missing));
    }

    void signInRules()
    {
        QVERIFY(!service.signUp("eve", "secret1").isEmpty());
        auto wrong = service.post("api/login", login("eve", "secret2"));
        QCOMPARE(wrong.status, 401);
        QVERIFY(wrong.header("WWW-Authenticate").isEmpty());
        QCOMPARE(service.post("api/login", login("nobody", "secret1")).json().value("error").toString(),
                 QStringLiteral("用户名或密码不对"));
        QCOMPARE(service.post("api/login", login("EVE", "secret1")).json().value("username").toString(), QStringLiteral("eve"));
        QCOMPARE(service.call("POST", "api/login", "not json", {{"Content-Type", "application/json"}}).status, 400);

        QCOMPARE(service.admin({"users", "disable", "eve"}).status, 0);
        auto disabled = service.post("api/login", login("eve", "secret1"));
        QCOMPARE(disabled.status, 403);
        QCOMPARE(disabled.json().value("account").toString(), QStringLiteral("disabled"));
        // A wrong password tells a disabled account nothing more.
        QCOMPARE(service.post("api/login", login("eve", "nope!!")).status, 401);
        QCOMPARE(service.admin({"users", "enable", "eve"}).status, 0);
        QCOMPARE(service.post("api/login", login("eve", "secret1")).status, 200);
        QCOMPARE(service.admin({"users", "disable", "nobody"}).status, 1);
    }

    void tokensAreRevoked()
    {
        const QString first = service.signUp("fay", "secret1");
        const QString second = service.post("api/login", login("fay", "secret1")).json().value("token").toString();

        // Disabling keeps the sign-in but says so, and refuses everything else.
        service.admin({"users", "disable", "fay"});
        auto ping = service.post("api/app/ping", checkIn(), first);
        QCOMPARE(ping.status, 200);
        QCOMPARE(ping.json().value("account").toString(), QStringLiteral("disabled"));
        QCOMPARE(service.post("api/diag", QJsonObject{{"reason", "x"}}, first).status, 403);
        service.admin({"users", "enable", "fay"});

        QCOMPARE(service.post("api/logout", {}, first).status, 200);
        auto revoked = service.post("api/app/ping", checkIn(), first);
        QCOMPARE(revoked.status, 401);
        QCOMPARE(revoked.json().value("account").toString(), QStringLiteral("invalid"));
        QCOMPARE(service.post("api/app/ping", checkIn(), second).status, 200);

        // A new password ends every sign-in; the old password stops working.
        QCOMPARE(service.admin({"users", "passwd", "fay"}, "newsecret\n").status, 0);
        QCOMPARE(service.post("api/app/ping", checkIn(), second).status, 401);
        QCOMPARE(service.post("api/login", login("fay", "secret1")).status, 401);
        const QString third = service.post("api/login", login("fay", "newsecret")).json().value("token").toString();
        QVERIFY(!third.isEmpty());
        QCOMPARE(service.admin({"users", "passwd", "fay"}, "short\n").status, 1);

        QCOMPARE(service.admin({"users", "delete", "fay"}).status, 0);
        QCOMPARE(service.post("api/app/ping", checkIn(), third).status, 401);
        QCOMPARE(service.post("api/app/ping", checkIn(), QString()).status, 401);
        QCOMPARE(service.post("api/app/ping", QJsonObject{{"version", 1}}, service.signUp("gus", "secret1")).status, 400);
    }

    void releasesAreOfferedOnlyWhenNewer()
    {
        const QString token = service.signUp("hal", "secret1");
        QVERIFY(!release("stable", 20).isEmpty());
        QVERIFY(!release("stable", 21, false).isEmpty()); // added, not published
        QVERIFY(!release("test", 22).isEmpty());
        QCOMPARE(service.admin({"releases", "add", "--channel", "stable", "--version", "x", "--build", "20", "--file", QCoreApplication::applicationFilePath()}).status, 1);

        // Links name the service itself, whatever host the request claims.
        auto offer = [&](int build, const QString& channel) {
            return service.call("GET", QStringLiteral("api/update?channel=%1&build=%2").arg(channel).arg(build), {},
                                {{"Host", "evil.example"}}).json();
        };
        const QJsonObject stable = offer(19, "stable");
        QCOMPARE(stable.value("build").toInt(), 20);
        QVERIFY2(stable.value("url").toString().startsWith(service.url().toString() + "downloads/"),
                 qPrintable(stable.value("url").toString()));
        QCOMPARE(offer(20, "stable"), QJsonObject({{"available", false}}));
        QCOMPARE(offer(19, "test").value("build").toInt(), 22);
        QCOMPARE(service.call("GET", "api/update?channel=beta&build=1").status, 400);
        QCOMPARE(service.call("GET", "api/update?channel=stable&build=x").status, 400);

        QVERIFY(!service.post("api/app/ping", checkIn(20), token).json().contains("update"));
        const QJsonObject update = service.post("api/app/ping", checkIn(20, "test"), token).json().value("update").toObject();
        QCOMPARE(update.value("build").toInt(), 22);
        const auto archive = service.call("GET", QUrl(update.value("url").toString()).path().mid(1));
        QCOMPARE(archive.body, QByteArray("zip 22"));
        QCOMPARE(QString::fromLatin1(QCryptographicHash::hash(archive.body, QCryptographicHash::Sha256).toHex()),
                 update.value("sha256").toString());
        QCOMPARE(service.call("GET", "downloads/2/tarnel.zip").status, 404); // unpublished
        QCOMPARE(service.call("GET", "downloads/99999999999999999999999/tarnel.zip").status, 404);
    }

    void devicesBelongToTheirAccount()
    {
        // Removal by another account is QXServerTest's.
        const QString ivy = service.signUp("ivy", "secret1");
        QVERIFY(!service.signUp("jon", "secret1").isEmpty());
        QCOMPARE(service.admin({"devices", "add", "ivy", "D-1", QStringLiteral("书房")}).status, 0);
        QCOMPARE(service.admin({"devices", "add", "jon", "D-1", "x"}).status, 1);
        QVERIFY(service.admin({"devices", "list", "ivy"}).out.contains("D-1\tivy"));
        QCOMPARE(service.post("api/device/D-1/remove", {}, ivy).status, 200);
        QCOMPARE(service.post("api/device/D-1/remove", {}, ivy).status, 404);
        QVERIFY(!service.admin({"devices", "list"}).out.contains("D-1"));
    }

    void oversizedUploadsAreRefused()
    {
        // A body too large for its path at all: bodiesAreRefusedBeforeTheyArrive.
        const QString token = service.signUp("kim", "secret1");
        auto feedback = [&](int images, int imageSize) {
            QByteArray form;
            auto part = [&](const QByteArray& name, const QByteArray& bytes, const QByteArray& file = {}) {
                form += "--b\r\nContent-Disposition: form-data; name=\"" + name + "\"";
                if (!file.isEmpty())
                    form += "; filename=\"" + file + "\"\r\nContent-Type: image/jpeg";
                form += "\r\n\r\n" + bytes + "\r\n";
            };
            part("text", "hi");
            part("env", "{}");
            for (int i = 1; i <= images; ++i)
                part("images", jpegMagic + QByteArray(imageSize, 'j'), "screenshot-" + QByteArray::number(i) + ".jpg");
            form += "--b--\r\n";
            return service.call("POST", "api/feedback", form,
                                {{"Content-Type", "multipart/form-data; boundary=b"},
                                 {"Authorization", "Bearer " + token.toUtf8()}});
        };
        QCOMPARE(feedback(7, 10).status, 413);
        QCOMPARE(feedback(1, 11 << 20).status, 413);
        const auto stored = feedback(6, 10);
        QCOMPARE(stored.status, 200);
        QVERIFY(stored.json().value("id").toInt() > 0);
        QVERIFY(service.admin({"feedback", "list"}).out.contains("kim\t"));
        QCOMPARE(service.call("POST", "api/feedback", "plain", {{"Authorization", "Bearer " + token.toUtf8()}}).status, 400);
    }

    // Clients that send their headers a line at a time hold only their own connection.
    void slowClientsHoldNobodyUp()
    {
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        for (int i = 0; i < 64; ++i) {
            slow.push_back(std::make_unique<QTcpSocket>());
            slow.back()->connectToHost(QHostAddress::LocalHost, quint16(service.port()));
            QVERIFY(slow.back()->waitForConnected(5000));
            slow.back()->write("POST /api/login HTTP/1.1\r\nHost: x\r\n");
            QVERIFY(slow.back()->waitForBytesWritten(5000));
        }
        QTimer trickle;
        QObject::connect(&trickle, &QTimer::timeout, [&] {
            for (auto& socket : slow)
                socket->write("X-Slow: 1\r\n");
        });
        trickle.start(1000);
        QElapsedTimer clock;
        clock.start();
        const QByteArray request = "GET /api/update?channel=stable&build=1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
        QCOMPARE(service.raw(request, QStringLiteral("127.0.0.1"), 8000).status, 200);
        QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
    }

    // Bodies too large for their path, or large ones without a sign-in, are refused on the headers
    // alone: none of these requests sends its body.
    void bodiesAreRefusedBeforeTheyArrive_data()
    {
        const QString token = service.signUp("max", "secret1");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        auto head = [](const QByteArray& path, qint64 length, const QString& bearer = {}) {
            QByteArray request = "POST " + path + " HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
                "Content-Length: " + QByteArray::number(length) + "\r\n";
            if (!bearer.isEmpty())
                request += "Authorization: Bearer " + bearer.toUtf8() + "\r\n";
            return request + "\r\n";
        };
        QTest::newRow("login") << head("/api/login", 79 << 20) << 413;
        QTest::newRow("check-in") << head("/api/app/ping", 1 << 20, token) << 413;
        QTest::newRow("diagnostics") << head("/api/diag", 5 << 20, token) << 413;
        QTest::newRow("feedback signed out") << head("/api/feedback", 20 << 20) << 401;
        QTest::newRow("feedback too large") << head("/api/feedback", 79 << 20, token) << 413;
        // A chunked body could run on whatever length it claims.
        const QByteArray chunked = "Transfer-Encoding: chunked\r\n\r\n";
        QTest::newRow("chunked feedback") << head("/api/feedback", 2).chopped(2) + chunked << 411;
        QTest::newRow("chunked check-in") << head("/api/app/ping", 2, token).chopped(2) + chunked << 411;
    }
    void bodiesAreRefusedBeforeTheyArrive()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        const auto reply = service.raw(request, QStringLiteral("127.0.0.1"), 4000);
        QCOMPARE(reply.status, status);
        QVERIFY(!reply.json().value("error").toString().isEmpty());
    }

    // A head the service and its HTTP library could read differently is refused before any body is read,
    // whatever it announces; so the header deadline and size cap hold for it too.
    void ambiguousHeadsAreRefused_data()
    {
        QTest::addColumn<QByteArray>("head");
        const QByteArray signIn = "POST /api/login HTTP/1.1\r\nHost: a\r\n";
        QTest::newRow("ended by bare line feeds") << QByteArray(signIn + "Content-Length: 1099511627776\n\n");
        QTest::newRow("bare line feed") << QByteArray("GET /api/update?channel=stable&build=1 HTTP/1.1\r\nHost: a\nX: 1\r\n\r\n");
        QTest::newRow("bare carriage return") << QByteArray(signIn + "Content-Length: 2\rX: 1\r\n\r\n");
        QTest::newRow("two lengths") << QByteArray(signIn + "Content-Length: 2\r\nContent-Length: 1099511627776\r\n\r\n");
        QTest::newRow("signed length") << QByteArray(signIn + "Content-Length: +2\r\n\r\n");
        QTest::newRow("escaped length") << QByteArray(signIn + "Content-Length: %32\r\n\r\n");
        QTest::newRow("space before the colon") << QByteArray(signIn + "Content-Length : 2\r\n\r\n");
        QTest::newRow("folded line") << QByteArray(signIn + "Content-Length: 2\r\n 0\r\n\r\n");
    }
    void ambiguousHeadsAreRefused()
    {
        QFETCH(QByteArray, head);
        const auto reply = service.raw(head, QStringLiteral("127.0.0.5"), 4000);
        QCOMPARE(reply.status, 400);
        QCOMPARE(reply.json().value("error").toString(), QStringLiteral("请求格式不对"));
    }

    // A body dripped in a byte at a time still has to be complete by one deadline.
    void aBodyHasOneDeadline()
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(service.port()));
        QVERIFY(socket.waitForConnected(5000));
        socket.write("POST /api/login HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\nContent-Length: 100\r\n\r\n{");
        QTimer drip;
        QObject::connect(&drip, &QTimer::timeout, [&] { socket.write(" "); });
        drip.start(500);
        QElapsedTimer clock;
        clock.start();
        QSignalSpy closed(&socket, &QAbstractSocket::disconnected);
        QVERIFY(closed.wait(12000));
        QVERIFY2(clock.elapsed() < 9000, qPrintable(QString::number(clock.elapsed())));
    }

    // Connections a few addresses hold leave room for everyone else, and a crowd arriving while the
    // service is busy waits in the queue rather than being turned away.
    void crowdsAreAdmittedFairly()
    {
        AccountServiceFixture::Options options{false, false};
        options.arguments = QStringList{"--header-timeout", "120"}; // held connections stay until the end
        AccountServiceFixture crowded{options};
        QVERIFY2(crowded.start(), qPrintable(crowded.error()));

        // Each address takes what it is given: answered requests, then kept busy with a request still coming.
        std::vector<std::unique_ptr<QTcpSocket>> held;
        const auto take = [&](const QString& from) {
            int taken = 0;
            for (;; ++taken) {
                auto socket = std::make_unique<QTcpSocket>();
                socket->bind(QHostAddress(from));
                socket->connectToHost(QHostAddress::LocalHost, quint16(crowded.port()));
                socket->write("GET /api/update?channel=stable&build=1 HTTP/1.1\r\nHost: x\r\n\r\n");
                if (!socket->waitForReadyRead(5000) || !socket->readAll().startsWith("HTTP/1.1 200"))
                    return taken;
                socket->write("GET / HTTP/1.1\r\n");
                held.push_back(std::move(socket));
            }
        };
        QCOMPARE(take(QStringLiteral("127.0.3.1")), 128);
        for (int i = 2; i <= 9; ++i)
            QVERIFY(take(QStringLiteral("127.0.3.%1").arg(i)) > 0);
        const QByteArray closing = "GET /api/update?channel=stable&build=1 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
        QCOMPARE(crowded.raw(closing, QStringLiteral("127.0.3.10")).status, 200);
        held.clear();

        QCOMPARE(::kill(pid_t(crowded.pid()), SIGSTOP), 0);
        const auto resume = qScopeGuard([&] { ::kill(pid_t(crowded.pid()), SIGCONT); });
        std::vector<std::unique_ptr<QTcpSocket>> crowd;
        for (int i = 0; i < 64; ++i) {
            crowd.push_back(std::make_unique<QTcpSocket>());
            crowd.back()->connectToHost(QHostAddress::LocalHost, quint16(crowded.port()));
        }
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(crowd.begin(), crowd.end(), [](const auto& socket) {
                                     return socket->state() == QAbstractSocket::ConnectedState;
                                 }), 3000);
    }

    void passwordGuessingSlowsDown()
    {
        QVERIFY(!service.signUp("pat", "secret1").isEmpty());
        QVERIFY(!service.signUp("quin", "secret1").isEmpty());
        auto attempt = [&](const QString& from, const QString& name, const QString& password) {
            return service.raw(AccountServiceFixture::rawPost("api/login", login(name, password)), from);
        };
        for (int i = 0; i < 5; ++i)
            QCOMPARE(attempt("127.0.0.2", "pat", "wrong!").status, 401);
        auto refused = attempt("127.0.0.2", "pat", "secret1");
        QCOMPARE(refused.status, 429);
        QCOMPARE(refused.header("Retry-After"), QByteArray("1"));
        QCOMPARE(refused.json().value("error").toString(), QStringLiteral("密码试错太多次，请 1 秒后再试"));
        QCOMPARE(attempt("127.0.0.3", "pat", "secret1").status, 429);  // the account, from anywhere
        QCOMPARE(attempt("127.0.0.3", "quin", "secret1").status, 200); // another account, another address
        auto onceAllowed = [&](const QString& from, const QString& name, const QString& password) {
            QElapsedTimer clock;
            clock.start();
            for (;;) {
                const auto reply = attempt(from, name, password);
                if (reply.status != 429 || clock.elapsed() > 5000)
                    return reply;
                QTest::qWait(100);
            }
        };

        // The wait doubles with each further failure, and the right password gets in once it is over.
        QCOMPARE(onceAllowed("127.0.0.2", "pat", "wrong!").status, 401);
        QCOMPARE(attempt("127.0.0.2", "pat", "secret1").header("Retry-After"), QByteArray("2"));
        QCOMPARE(onceAllowed("127.0.0.2", "pat", "secret1").status, 200);

        // Guessing across many names from one address.
        for (int i = 0; i < 5; ++i)
            QCOMPARE(attempt("127.0.0.4", QStringLiteral("nobody%1").arg(i), "secret1").status, 401);
        QCOMPARE(attempt("127.0.0.4", "quin", "secret1").status, 429);
    }

    // Guessers rotating through addresses hold up their own network, not the owner on another one.
    void guessersDoNotLockTheOwnerOut()
    {
        QVERIFY(!service.signUp("rho", "secret1").isEmpty());
        const auto attempt = [&](const QString& from, const QString& password) {
            return service.raw(AccountServiceFixture::rawPost("api/login", login("rho", password)), from);
        };
        for (int i = 1; i <= 8; ++i) // each from a network of its own: a wait would refuse the sixth
            QCOMPARE(attempt(QStringLiteral("127.0.%1.1").arg(10 + i), "wrong!").status, 401);
        QCOMPARE(attempt("127.0.9.1", "secret1").status, 200);
        const auto held = attempt("127.0.11.2", "wrong!"); // a new address beside a guesser
        QCOMPARE(held.status, 429);
        QVERIFY(held.header("Retry-After").toInt() > 1);
    }

    // A link-local client counts by its /64, whatever interface zone its address names.
    void linkLocalClientsCountByTheirNetwork()
    {
        if (::geteuid() != 0)
            QSKIP("a network namespace of its own needs root");
        const int home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        QVERIFY(home >= 0 && ::unshare(CLONE_NEWNET) == 0);
        const auto back = qScopeGuard([home] {
            ::setns(home, CLONE_NEWNET);
            ::close(home);
        });
        for (const char* command : {"link set lo up", "-6 addr add fe80::1/64 dev lo nodad",
                                    "-6 addr add fe80::2/64 dev lo nodad", "-6 addr add fe80::3/64 dev lo nodad"})
            QCOMPARE(QProcess::execute("ip", QString::fromLatin1(command).split(' ')), 0);
        AccountServiceFixture::Options options{false, false};
        options.host = QStringLiteral("fe80::1%lo");
        AccountServiceFixture local(options);
        QVERIFY2(local.start(), qPrintable(local.error()));
        const auto attempt = [&](const QString& from, int name) { // a name of its own: only the address counts
            return local.raw(AccountServiceFixture::rawPost("api/login", login(QStringLiteral("nobody%1").arg(name), "secret1")), from).status;
        };
        for (int i = 0; i < 5; ++i)
            QCOMPARE(attempt(QStringLiteral("fe80::2%lo"), i), 401);
        QCOMPARE(attempt(QStringLiteral("fe80::3%lo"), 5), 429);
    }

    // A wrong code costs no password hash, and guessing codes slows down per address.
    void registrationChecksTheCodeFirst()
    {
        const auto attempt = [&](const QString& from, const QString& invite) {
            return service.raw(AccountServiceFixture::rawPost("api/register", registration("guess", invite)), from);
        };
        // The service's own CPU time, not the clock: a loaded machine delays requests, not their work.
        const auto cpuFor = [&](const std::function<void()>& work) {
            const long long before = processStat(pid_t(service.pid()))->cpuTicks;
            work();
            return processStat(pid_t(service.pid()))->cpuTicks - before;
        };
        // Five password hashes: sign-ins with a wrong password, each from an address of its own.
        const long long hashing = cpuFor([&] {
            for (int i = 0; i < 5; ++i)
                QCOMPARE(service.raw(AccountServiceFixture::rawPost("api/login", login("nobody-here", "secret1")),
                                     QStringLiteral("127.0.0.%1").arg(20 + i)).status, 401);
        });
        const long long guessing = cpuFor([&] {
            for (int i = 0; i < 5; ++i)
                QCOMPARE(attempt("127.0.0.8", QStringLiteral("GUESS%1").arg(i)).status, 403);
        });
        QVERIFY2(guessing * 3 < hashing, qPrintable(QStringLiteral("%1 ticks for five guesses, %2 for five hashes").arg(guessing).arg(hashing)));
        const auto refused = attempt("127.0.0.8", service.createInvite());
        QCOMPARE(refused.status, 429);
        QCOMPARE(refused.json().value("error").toString(), QStringLiteral("邀请码试错太多次，请 1 秒后再试"));
        QCOMPARE(attempt("127.0.0.7", service.createInvite()).status, 200); // another address
    }

    // However many sign-ins arrive at once, only a few password hashes run together; the rest wait briefly
    // or are told when to come back, and the memory the hashes took goes back to the system.
    void passwordHashesRunAFewAtOnce()
    {
        AccountServiceFixture fresh{AccountServiceFixture::Options{false, false}};
        QVERIFY2(fresh.start(), qPrintable(fresh.error()));
        const auto resident = [&] { return processStat(pid_t(fresh.pid()))->residentBytes; };
        QCOMPARE(fresh.post("api/login", login("nobody", "secret1")).status, 401);
        const long long atRest = resident();
        QList<QPair<QByteArray, QString>> crowd;
        for (int i = 0; i < 128; ++i) // four unknown names from each address, below its guessing limit
            crowd.append({AccountServiceFixture::rawPost("api/login", login(QStringLiteral("nobody%1").arg(i), "secret1")),
                          QStringLiteral("127.0.4.%1").arg(i / 4 + 1)});
        long long peak = atRest;
        QTimer sample;
        QObject::connect(&sample, &QTimer::timeout, [&] { peak = std::max(peak, resident()); });
        sample.start(10);
        const auto replies = fresh.rawAll(crowd, Limit::network);
        sample.stop();
        for (const auto& reply : replies)
            QVERIFY2(reply.status == 401 || (reply.status == 503 && reply.header("Retry-After").toInt() > 0),
                     qPrintable(QString::number(reply.status)));
        QVERIFY2(peak - atRest < 160 << 20, qPrintable(QStringLiteral("%1 MB at rest, %2 MB at the peak").arg(atRest >> 20).arg(peak >> 20)));
        QVERIFY2(waitUntil([&] { return resident() - atRest < 32 << 20; }),
                 qPrintable(QStringLiteral("%1 MB at rest, %2 MB after").arg(atRest >> 20).arg(resident() >> 20)));
    }

    // Wrong codes from many addresses together hold up every address that guessed wrong, while a valid
    // code from an address that guessed nothing still registers.
    void invitationGuessingIsBoundedOverall()
    {
        AccountServiceFixture fresh{AccountServiceFixture::Options{false, false}};
        QVERIFY2(fresh.start(), qPrintable(fresh.error()));
        const auto attempt = [&](const QString& from, const QString& invite) {
            return fresh.raw(AccountServiceFixture::rawPost("api/register", registration("guess", invite)), from);
        };
        for (int i = 0; i < 60; ++i) // four from each address, below its own limit
            QCOMPARE(attempt(QStringLiteral("127.0.1.%1").arg(i / 4 + 1), QStringLiteral("GUESS%1").arg(i)).status, 403);
        const auto refused = attempt(QStringLiteral("127.0.1.1"), fresh.createInvite());
        QCOMPARE(refused.status, 429);
        QVERIFY(refused.header("Retry-After").toInt() > 0);
        QCOMPARE(attempt(QStringLiteral("127.0.2.1"), fresh.createInvite()).status, 200);
        QCOMPARE(attempt(QStringLiteral("127.0.3.1"), QStringLiteral("GUESS")).status, 403);
        QCOMPARE(attempt(QStringLiteral("127.0.3.2"), fresh.createInvite()).status, 429);
    }

    // A sign-in keeps only its latest check-in, and checks in at a bounded rate.
    void checkInsAreBoundedPerSignIn()
    {
        const QString first = service.signUp("cal", "secret1");
        const QString second = service.signIn("cal", "secret1");
        for (int build = 1; build <= 3; ++build)
            QCOMPARE(service.post("api/app/ping", checkIn(build), first).status, 200);
        QCOMPARE(service.post("api/app/ping", checkIn(), second).status, 200);
        const QString rows = service.admin({"checkins", "list"}).out;
        QCOMPARE(rows.count("\tcal\t"), 2);
        QVERIFY2(rows.contains("\t0.1.0\t3\tstable\t"), qPrintable(rows));
        for (int i = 3; i < 20; ++i)
            QCOMPARE(service.post("api/app/ping", checkIn(), first).status, 200);
        const auto refused = service.post("api/app/ping", checkIn(), first); // the 21st in ten minutes
        QCOMPARE(refused.status, 429);
        QVERIFY(refused.header("Retry-After").toInt() > 0);
        QCOMPARE(service.post("api/app/ping", checkIn(), second).status, 200);
        QCOMPARE(service.admin({"checkins", "list"}).out.count("\tcal\t"), 2);
    }

    // Feedback images are PNG or JPEG by their bytes, whatever they are called, and the admin's export
    // names them by what they are and keeps them private.
    void feedbackImagesAreImages()
    {
        const QString token = service.signUp("uma", "secret1");
        auto send = [&](const QList<std::pair<QByteArray, QByteArray>>& images) {
            return service.call("POST", "api/feedback", feedbackForm(images),
                                {{"Content-Type", "multipart/form-data; boundary=b"}, {"Authorization", "Bearer " + token.toUtf8()}});
        };
        const auto script = send({{"shot.jpg", "#!/bin/sh\nrm -rf ~\n"}});
        QCOMPARE(script.status, 415);
        QCOMPARE(script.json().value("error").toString(), QStringLiteral("只能附 PNG 或 JPEG 图片"));
        const auto stored = send({{"a.jpg", pngMagic + "png"}, {"b.png", jpegMagic + "jpeg"}});
        QCOMPARE(stored.status, 200);

        QTemporaryDir folder;
        const QString id = QString::number(stored.json().value("id").toInt());
        QCOMPARE(service.admin({"feedback", "show", id, "--images", folder.path()}).status, 0);
        for (const QString& name : {id + "-1.png", id + "-2.jpg"}) {
            struct stat file {};
            QVERIFY2(::stat(QFile::encodeName(folder.filePath(name)).constData(), &file) == 0, qPrintable(name));
            QCOMPARE(file.st_mode & 0777, 0600u);
        }
    }

    // Display names follow the rule for names, and a refusal says why.
    void displayNamesAreVisibleText()
    {
        const auto refusal = [&](const QString& displayName) {
            QJsonObject body = registration("nia", service.createInvite());
            body.insert("displayName", displayName);
            const auto reply = service.post("api/register", body);
            return reply.status == 400 ? reply.json().value("error").toString() : QString::number(reply.status);
        };
        const QString hiddenText = QStringLiteral("名字里不能有看不见的控制字符、格式字符或换行");
        QCOMPARE(refusal(QStringLiteral("Nia\u202Egnp.exe")), hiddenText);
        QCOMPARE(refusal(QStringLiteral("\u200B")), hiddenText);
        QCOMPARE(refusal(QStringLiteral("\u3164 \u3164")), QStringLiteral("名字里没有看得见的字"));
        QCOMPARE(refusal(QStringLiteral("Nia") + QChar(0xD800)), QStringLiteral("名字里有无效的字符"));
        QCOMPARE(refusal(QString::fromUcs4(U"\U0001F600").repeated(64)), QStringLiteral("200")); // 64 as seen
        QVERIFY(!service.signUp("ole", "secret1").isEmpty());
        QVERIFY(service.admin({"users", "rename", "ole", QStringLiteral("x\u2029y")}).err.contains(hiddenText));
    }

    // What users send reaches the admin's terminal with its control characters shown, not obeyed.
    void adminListingsEscapeControlCharacters()
    {
        const QString token = service.signUp("vic", "secret1");
        const QByteArray title = "\x1b]0;owned\x07\x1b]52;c;ZWNobyBoaQ==\x07\x1b[2J\xc2\x9b" "31m\xe2\x80\xae";
        QCOMPARE(service.call("POST", "api/feedback", feedbackForm({}, "look " + title),
                              {{"Content-Type", "multipart/form-data; boundary=b"}, {"Authorization", "Bearer " + token.toUtf8()}})
                     .status, 200);
        QJsonObject report{{"reason", QString::fromUtf8("why " + title)}, {"version", "0.1.0"}, {"build", 1},
                           {"deviceName", QString::fromUtf8(title)}, {"appLog", QString::fromUtf8("line\n" + title)}};
        const int diag = service.post("api/diag", report, token).json().value("id").toInt();
        QCOMPARE(service.post("api/app/ping", QJsonObject{{"version", "0.1.0"}, {"build", 1}, {"channel", "stable"},
                                                          {"os", QString::fromUtf8(title)}}, token).status, 200);
        const int feedback = service.admin({"feedback", "list"}).out.section("\tvic\t", 0, 0).section('\n', -1).toInt();
        for (const QStringList& command : QList<QStringList>{{"feedback", "list"}, {"feedback", "show", QString::number(feedback)},
                                                              {"diagnostics", "list"}, {"diagnostics", "show", QString::number(diag)},
                                                              {"checkins", "list"}}) {
            const auto out = service.admin(command).out;
            QVERIFY2(!out.contains(QChar(0x1b)) && !out.contains(QChar(0x07)) && !out.contains(QChar(0x9b)) && !out.contains(QChar(0x202e)),
                     qPrintable(command.join(' ')));
            QVERIFY2(out.contains("\\x1b]0;owned\\x07"), qPrintable(command.join(' ') + ": " + out));
        }
    }

    // One account cannot fill the service's disk: reports per hour and bytes stored are bounded.
    void uploadsAreBoundedPerUser()
    {
        const QString often = service.signUp("wes", "secret1");
        for (int i = 0; i < 12; ++i)
            QCOMPARE(service.post("api/diag", QJsonObject{{"reason", "timer"}}, often).status, 200);
        const auto tooOften = service.post("api/diag", QJsonObject{{"reason", "timer"}}, often);
        QCOMPARE(tooOften.status, 429);
        QVERIFY(tooOften.header("Retry-After").toInt() > 0);
        QCOMPARE(tooOften.json().value("error").toString(), QStringLiteral("诊断报告发得太频繁了，请过一会儿再试"));
        QCOMPARE(service.post("api/diag", QJsonObject{{"reason", "timer"}}, service.signUp("xia", "secret1")).status, 200);

        const QString large = service.signUp("yan", "secret1");
        const QJsonObject big{{"reason", "timer"}, {"appLog", QString((4 << 20) - 100, QLatin1Char('x'))}};
        for (int i = 0; i < 8; ++i) // 32 MB
            QCOMPARE(service.post("api/diag", big, large).status, 200);
        const auto full = service.post("api/diag", big, large);
        QCOMPARE(full.status, 429);
        QCOMPARE(full.json().value("error").toString(), QStringLiteral("你存在服务器上的诊断报告已经太多了，请联系管理员清理后再发"));

        const QString chatty = service.signUp("zed", "secret1");
        auto feedback = [&] {
            return service.call("POST", "api/feedback", feedbackForm({}),
                                {{"Content-Type", "multipart/form-data; boundary=b"}, {"Authorization", "Bearer " + chatty.toUtf8()}});
        };
        for (int i = 0; i < 10; ++i)
            QCOMPARE(feedback().status, 200);
        QCOMPARE(feedback().status, 429);
    }

    // Large bodies are refused on their headers when their account is over quota or has its share under
    // way, or when the service has no room left for them: stalled uploads hold neither memory nor others up.
    void stalledUploadsAreBounded()
    {
        AccountServiceFixture fresh{AccountServiceFixture::Options{false, false}};
        QVERIFY2(fresh.start(), qPrintable(fresh.error()));
        const QList<QString> tokens{fresh.signUp("sal", "secret1"), fresh.signUp("sam", "secret1"), fresh.signUp("sol", "secret1")};
        const auto head = [](const QString& token, const QByteArray& path, qint64 length) {
            return "POST " + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nAuthorization: Bearer " + token.toUtf8() +
                "\r\nContent-Type: multipart/form-data; boundary=b\r\nContent-Length: " + QByteArray::number(length) + "\r\n\r\n";
        };
        // Two uploads of 60 MB from each of two accounts, stalled after their first 16 MB were taken in.
        std::vector<std::unique_ptr<QTcpSocket>> stalled;
        for (int i = 0; i < 4; ++i) {
            stalled.push_back(std::make_unique<QTcpSocket>());
            stalled.back()->connectToHost(QHostAddress::LocalHost, quint16(fresh.port()));
            stalled.back()->write(head(tokens[i / 2], "/api/feedback", 60 << 20) + QByteArray(16 << 20, 'x'));
            QVERIFY(waitUntil([&] { return stalled.back()->bytesToWrite() == 0; }, Limit::network));
        }
        const auto ownShare = fresh.raw(head(tokens[0], "/api/feedback", 1 << 20));
        QCOMPARE(ownShare.status, 429);
        QVERIFY(ownShare.header("Retry-After").toInt() > 0);
        const auto noRoom = fresh.raw(head(tokens[2], "/api/feedback", 60 << 20));
        QCOMPARE(noRoom.status, 503);
        QVERIFY(noRoom.header("Retry-After").toInt() > 0);
        for (int i = 0; i < 12; ++i)
            QCOMPARE(fresh.post("api/diag", QJsonObject{{"reason", "timer"}}, tokens[2]).status, 200);
        QCOMPARE(fresh.raw(head(tokens[2], "/api/diag", 1 << 20)).status, 429);

        stalled.clear();
        const QByteArray form = feedbackForm({{"a.jpg", jpegMagic + QByteArray(1 << 20, 'j')}});
        QVERIFY(waitUntil([&] { return fresh.raw(head(tokens[0], "/api/feedback", form.size()) + form).status == 200; }));
    }

    void storedTextIsBounded()
    {
        const QString token = service.signUp("ray", "secret1");
        QJsonObject ping = checkIn();
        ping.insert("os", QString(10000, QLatin1Char('o')));
        QCOMPARE(service.post("api/app/ping", ping, token).status, 200);
        const QString rows = service.admin({"checkins", "list"}).out;
        QCOMPARE(rows.section("\tray\t", 1).section('\n', 0, 0).section('\t', 4, 4).size(), 256);
    }

    void databaseIsPrivate()
    {
        AccountServiceFixture::Options options{false, false};
        options.databaseFolder = QStringLiteral("made/here");
        AccountServiceFixture fresh{options};
        QVERIFY2(fresh.start(), qPrintable(fresh.error()));
        QVERIFY(!fresh.signUp("tom", "secret1").isEmpty());
        const QString db = fresh.databasePath();
        QCOMPARE(fileMode(QFileInfo(db).path()), 0700);
        for (const QString& file : {db, db + "-wal", db + "-shm"})
            QCOMPARE(fileMode(file), 0600);
        // A database made readable by an earlier version is closed again.
        fresh.stop();
        QVERIFY(QFile::setPermissions(db, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        QVERIFY(fresh.start());
        QCOMPARE(fileMode(db), 0600);
        QCOMPARE(fresh.post("api/login", login("tom", "secret1")).status, 200); // the records survive a restart
    }

    // A request's headers must be complete within the set time, however steadily they trickle in; the
    // same rules hold over TLS.
    void headerTimeIsBounded()
    {
        AccountServiceFixture::Options options{false, true};
        options.arguments = QStringList{"--header-timeout", "1"};
        AccountServiceFixture bounded{options};
        QVERIFY2(bounded.start(), qPrintable(bounded.error()));
        QCOMPARE(bounded.post("api/login", login("nobody", "secret1")).status, 401);
        QSslSocket socket;
        socket.setPeerVerifyMode(QSslSocket::VerifyNone);
        socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(bounded.port()));
        QVERIFY(socket.waitForEncrypted(5000));
        socket.write("POST /api/login HTTP/1.1\r\nHost: x\r\n");
        QTimer trickle;
        QObject::connect(&trickle, &QTimer::timeout, [&] { socket.write("X-Slow: 1\r\n"); });
        trickle.start(200);
        QElapsedTimer clock;
        clock.start();
        QSignalSpy closed(&socket, &QAbstractSocket::disconnected);
        QVERIFY(closed.wait(5000));
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(AccountServiceTest)
#include "AccountServiceTest.moc"
