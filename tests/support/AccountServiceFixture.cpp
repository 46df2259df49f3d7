#include "support/AccountServiceFixture.h"

#include "support/WaitUntil.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTcpServer>
#include <QTimer>

#include <vector>

AccountServiceFixture::AccountServiceFixture(Options options)
    : options(options), network(std::make_unique<QNetworkAccessManager>())
{
}

AccountServiceFixture::~AccountServiceFixture() { stop(); }

QString AccountServiceFixture::binary() const
{
    return options.testHooks ? QStringLiteral(TARNEL_BINARY_DIR "/bin/tarnel-accountd-test") : shippedBinary();
}

QString AccountServiceFixture::shippedBinary() { return QStringLiteral(TARNEL_BINARY_DIR "/bin/tarnel-accountd"); }

int AccountServiceFixture::closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const int port = probe.serverPort();
    probe.close();
    return port;
}

QString AccountServiceFixture::databasePath() const
{
    const QString folder = options.databaseFolder.isEmpty() ? dir.path() : dir.filePath(options.databaseFolder);
    return folder + QStringLiteral("/accounts.db");
}

QUrl AccountServiceFixture::url() const
{
    return QUrl(QStringLiteral("%1://%2:%3/").arg(options.tls ? "https" : "http", options.host).arg(listenPort));
}

bool AccountServiceFixture::makeCertificate()
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), dir.filePath(QStringLiteral("key.pem")), QStringLiteral("-out"),
                   certificatePath(), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1")});
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        problem = QStringLiteral("openssl could not make a certificate: ") + QString::fromLocal8Bit(openssl.readAllStandardError());
        return false;
    }
    return true;
}

bool AccountServiceFixture::start()
{
    if (!QFile::exists(binary())) {
        problem = QStringLiteral("not built (the tests' build configures with -DTARNEL_TEST_HOOKS=ON): ") + binary();
        return false;
    }
    const QString portFile = dir.filePath(QStringLiteral("port"));
    QFile::remove(portFile);
    QStringList args{QStringLiteral("--db"), databasePath(), QStringLiteral("serve"), QStringLiteral("--listen"),
                     options.host + QStringLiteral(":%1").arg(options.port), QStringLiteral("--port-file"), portFile};
    if (options.testHooks)
        args << QStringLiteral("--test-hooks");
    args << options.arguments;
    if (options.tls) {
        if (!makeCertificate())
            return false;
        args << QStringLiteral("--tls-cert") << certificatePath() << QStringLiteral("--tls-key")
             << dir.filePath(QStringLiteral("key.pem"));
    }
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(binary(), args);
    if (!process.waitForStarted(10000)) {
        problem = QStringLiteral("tarnel-accountd did not start: ") + process.errorString();
        return false;
    }
    listenPort = 0;
    const bool listening = waitUntil([&] {
        QFile file(portFile);
        if (file.open(QIODevice::ReadOnly))
            listenPort = file.readAll().trimmed().toInt();
        return listenPort > 0 || process.state() == QProcess::NotRunning;
    });
    if (listening && listenPort > 0)
        return true;
    problem = QStringLiteral("tarnel-accountd did not write its port");
    stop();
    return false;
}

void AccountServiceFixture::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

AccountServiceFixture::Output AccountServiceFixture::admin(const QStringList& args, const QByteArray& input) const
{
    QProcess cli;
    cli.start(binary(), QStringList{QStringLiteral("--db"), databasePath()} + args);
    Output output;
    if (!cli.waitForStarted(10000))
        return output;
    cli.write(input);
    cli.closeWriteChannel();
    cli.waitForFinished(30000);
    output.status = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    output.out = QString::fromUtf8(cli.readAllStandardOutput());
    output.err = QString::fromUtf8(cli.readAllStandardError());
    return output;
}

QString AccountServiceFixture::createInvite(const QStringList& extra) const
{
    const Output output = admin(QStringList{QStringLiteral("invite"), QStringLiteral("create")} + extra);
    return output.status == 0 ? output.out.trimmed() : QString();
}

QJsonObject AccountServiceFixture::Reply::json() const { return QJsonDocument::fromJson(body).object(); }

QByteArray AccountServiceFixture::Reply::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

AccountServiceFixture::Reply AccountServiceFixture::call(const QByteArray& method, const QString& path,
                                                         const QByteArray& body,
                                                         const QList<QPair<QByteArray, QByteArray>>& headers) const
{
    QNetworkAccessManager& manager = *network;
    QNetworkRequest request(url().resolved(QUrl(path)));
    for (const auto& [name, value] : headers)
        request.setRawHeader(name, value);
    if (body.isEmpty() && method != "GET")
        request.setHeader(QNetworkRequest::ContentLengthHeader, 0);
    QNetworkReply* reply = body.isEmpty() ? manager.sendCustomRequest(request, method)
                                          : manager.sendCustomRequest(request, method, body);
    if (options.tls)
        reply->ignoreSslErrors(); // our own throw-away certificate
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    loop.exec();
    Reply result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    for (const auto& pair : reply->rawHeaderPairs())
        result.headers.append(pair);
    delete reply;
    return result;
}

AccountServiceFixture::Reply AccountServiceFixture::post(const QString& path, const QJsonObject& body,
                                                         const QString& token) const
{
    QList<QPair<QByteArray, QByteArray>> headers{{"Content-Type", "application/json"}};
    if (!token.isEmpty())
        headers.append({"Authorization", "Bearer " + token.toUtf8()});
    return call("POST", path, QJsonDocument(body).toJson(QJsonDocument::Compact), headers);
}

QString AccountServiceFixture::signUp(const QString& username, const QString& password, const QString& displayName) const
{
    const QString invite = createInvite();
    const Reply reply = post(QStringLiteral("api/register"),
                             QJsonObject{{QStringLiteral("username"), username},
                                         {QStringLiteral("password"), password},
                                         {QStringLiteral("displayName"), displayName.isEmpty() ? username : displayName},
                                         {QStringLiteral("invite"), invite},
                                         {QStringLiteral("client"), QStringLiteral("app")}});
    return reply.json().value(QStringLiteral("token")).toString();
}

QString AccountServiceFixture::signIn(const QString& username, const QString& password) const
{
    const Reply reply = post(QStringLiteral("api/login"), QJsonObject{{QStringLiteral("username"), username},
                                                                      {QStringLiteral("password"), password},
                                                                      {QStringLiteral("client"), QStringLiteral("app")}});
    return reply.json().value(QStringLiteral("token")).toString();
}

void AccountServiceFixture::script(const QString& path, const QJsonObject& reply) const
{
    QJsonObject body = reply;
    body.insert(QStringLiteral("path"), path);
    call("POST", QStringLiteral("_test/script"), QJsonDocument(body).toJson(QJsonDocument::Compact));
}

QJsonArray AccountServiceFixture::requests() const
{
    return QJsonDocument::fromJson(call("GET", QStringLiteral("_test/requests")).body).array();
}

QList<QJsonObject> AccountServiceFixture::requestsTo(const QString& prefix, qsizetype from) const
{
    QList<QJsonObject> found;
    const QJsonArray all = requests();
    for (qsizetype i = from; i < all.size(); ++i)
        if (all.at(i).toObject().value(QStringLiteral("path")).toString().startsWith(prefix))
            found.append(all.at(i).toObject());
    return found;
}

QUrl AccountServiceFixture::closedURL() { return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(closedPort())); }

void AccountServiceFixture::resetHooks() const { call("POST", QStringLiteral("_test/reset")); }

AccountServiceFixture::Reply AccountServiceFixture::raw(const QByteArray& request, const QString& from, int waitMs) const
{
    return rawAll({{request, from}}, waitMs).first();
}

namespace {
AccountServiceFixture::Reply parsedReply(const QByteArray& bytes)
{
    AccountServiceFixture::Reply result;
    const qsizetype split = bytes.indexOf("\r\n\r\n");
    if (!bytes.startsWith("HTTP/1.1 ") || split < 0)
        return result;
    const QList<QByteArray> lines = bytes.left(split).split('\n');
    result.status = lines.first().mid(9, 3).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            result.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    result.body = bytes.mid(split + 4);
    return result;
}
} // namespace

QList<AccountServiceFixture::Reply> AccountServiceFixture::rawAll(const QList<QPair<QByteArray, QString>>& requests,
                                                                  int waitMs) const
{
    // An event loop, not blocking waits: the test's own timers keep running meanwhile.
    QEventLoop loop;
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    QList<QByteArray> received(requests.size());
    qsizetype open = 0;
    for (qsizetype i = 0; i < requests.size(); ++i) {
        auto socket = std::make_unique<QTcpSocket>();
        QTcpSocket* const s = socket.get();
        sockets.push_back(std::move(socket));
        if (!s->bind(QHostAddress(requests[i].second)))
            continue;
        ++open;
        const auto ended = [&open, &loop, s] {
            s->disconnect();
            if (--open == 0)
                loop.quit();
        };
        QObject::connect(s, &QTcpSocket::connected, &loop, [s, request = requests[i].first] { s->write(request); });
        QObject::connect(s, &QTcpSocket::readyRead, &loop, [s, &received, i] { received[i] += s->readAll(); });
        QObject::connect(s, &QTcpSocket::disconnected, &loop, ended);
        QObject::connect(s, &QTcpSocket::errorOccurred, &loop, ended);
        s->connectToHost(QHostAddress(options.host), quint16(listenPort));
    }
    QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
    if (open > 0)
        loop.exec();
    QList<Reply> replies;
    for (qsizetype i = 0; i < requests.size(); ++i)
        replies.append(parsedReply(received[i] + sockets[size_t(i)]->readAll()));
    return replies;
}

QByteArray AccountServiceFixture::rawPost(const QString& path, const QJsonObject& body, const QString& token)
{
    const QByteArray json = QJsonDocument(body).toJson(QJsonDocument::Compact);
    QByteArray request = "POST /" + path.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
        "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(json.size()) + "\r\n";
    if (!token.isEmpty())
        request += "Authorization: Bearer " + token.toUtf8() + "\r\n";
    return request + "\r\n" + json;
}
