#include "servers/ServerAddress.h"

#include "delivery/SSHSession.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace {

// Why a text is not an address; thrown inside this parser only and turned into its failure at the edge.
struct ParseError {
    enum class Kind { empty, badUser, badHost, badPort };
    Kind kind;
    QString detail;

    QString description() const;
};
using Kind = ParseError::Kind;

const QString onlySimple = QStringLiteral("只能是字母、数字、. _ -");
const QString ipv6Form = QStringLiteral("IPv6 要写成 [地址]:端口");
constexpr int maxInput = 1024;

[[noreturn]] void fail(Kind kind, const QString& detail) { throw ParseError{kind, detail}; }

bool isSimpleText(const QString& text)
{
    static const QRegularExpression simple(QStringLiteral("^[A-Za-z0-9._-]+\\z"));
    return simple.match(text).hasMatch();
}

bool isIPv6(const QString& text)
{
    QHostAddress address;
    return !text.contains(QLatin1Char('%')) && address.setAddress(text)
        && address.protocol() == QAbstractSocket::IPv6Protocol;
}

int parsePort(const QString& text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}\\z"));
    const int port = digits.match(text).hasMatch() ? text.toInt() : 0;
    if (port < 1 || port > 65535)
        fail(Kind::badPort, QStringLiteral("要在 1～65535"));
    return port;
}

void validateUser(const QString& user)
{
    if (user.isEmpty())
        fail(Kind::badUser, QStringLiteral("@ 前面的用户名是空的"));
    if (user.size() > 64)
        fail(Kind::badUser, QStringLiteral("太长了"));
    if (user.startsWith(QLatin1Char('-')))
        fail(Kind::badUser, QStringLiteral("不能以 - 开头"));
    if (!isSimpleText(user))
        fail(Kind::badUser, onlySimple);
}

void validateHost(const QString& host)
{
    if (host.isEmpty())
        fail(Kind::badHost, QStringLiteral("是空的"));
    if (host.startsWith(QLatin1Char('-')))
        fail(Kind::badHost, QStringLiteral("不能以 - 开头"));
    if (host.contains(QLatin1Char(':'))) {
        if (!isIPv6(host))
            fail(Kind::badHost, ipv6Form);
        return;
    }
    if (host.size() > 253)
        fail(Kind::badHost, QStringLiteral("太长了"));
    if (host.startsWith(QLatin1Char('.')) || !isSimpleText(host))
        fail(Kind::badHost, onlySimple);
}

// "[user@]host[:port]", "[user@][v6][:port]" or "[user@]v6" (two or more ":", no port).
ServerAddress parseDestination(QString text)
{
    ServerAddress result;
    const qsizetype at = text.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        const QString user = text.left(at);
        if (user.isEmpty())
            fail(Kind::badUser, QStringLiteral("@ 前面的用户名是空的"));
        validateUser(user);
        result.user = user;
        text = text.mid(at + 1);
    }
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0 || !isIPv6(text.mid(1, close - 1)))
            fail(Kind::badHost, ipv6Form);
        result.host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                fail(Kind::badHost, ipv6Form);
            result.port = parsePort(rest.mid(1));
        }
        return result;
    }
    const qsizetype colons = text.count(QLatin1Char(':'));
    if (colons >= 2) {
        if (!isIPv6(text))
            fail(Kind::badHost, ipv6Form);
        result.host = text;
        return result;
    }
    if (colons == 1) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        validateHost(text.left(colon));
        result.host = text.left(colon);
        result.port = parsePort(text.mid(colon + 1));
        return result;
    }
    validateHost(text);
    result.host = text;
    return result;
}

ServerAddress parseUri(QString rest)
{
    if (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);
    return parseDestination(rest);
}

// After "ssh ": only -p N, -l user (value attached or separate) and one destination.
ServerAddress parseCommand(const QString& arguments)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList words = arguments.split(blanks, Qt::SkipEmptyParts);
    std::optional<QString> user;
    std::optional<int> port;
    std::optional<QString> destination;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        if (word.startsWith(QLatin1String("-p")) || word.startsWith(QLatin1String("-l"))) {
            const bool isPort = word.at(1) == QLatin1Char('p');
            QString value = word.mid(2);
            if (value.isEmpty() && i + 1 < words.size())
                value = words[++i];
            if (isPort) {
                port = parsePort(value);
            } else {
                if (value.isEmpty())
                    fail(Kind::badUser, QStringLiteral("@ 前面的用户名是空的"));
                validateUser(value);
                user = value;
            }
            continue;
        }
        if (word.startsWith(QLatin1Char('-')))
            fail(Kind::badHost, QStringLiteral("不能以 - 开头"));
        if (destination) // a second word: a remote command or a stray option value
            fail(Kind::badHost, onlySimple);
        destination = word;
    }
    if (!destination)
        fail(Kind::badHost, QStringLiteral("是空的"));
    ServerAddress result = destination->startsWith(QLatin1String("ssh://"))
        ? parseUri(destination->mid(6))
        : parseDestination(*destination);
    // Like ssh itself: options given with -l and -p win over the destination's own parts.
    if (user)
        result.user = user;
    if (port)
        result.port = port;
    return result;
}

QString ParseError::description() const
{
    switch (kind) {
    case Kind::empty:
        return QStringLiteral("先粘上服务器地址");
    case Kind::badUser:
        return QStringLiteral("用户名不对：") + detail;
    case Kind::badHost:
        return QStringLiteral("地址不对：") + detail;
    case Kind::badPort:
        return QStringLiteral("端口不对：") + detail;
    }
    return detail;
}

ServerAddress parseText(const QString& input)
{
    const QString text = input.trimmed();
    if (text.isEmpty())
        fail(Kind::empty, QString());
    if (text.size() > maxInput)
        fail(Kind::badHost, QStringLiteral("太长了"));
    if (text.startsWith(QLatin1String("ssh://")))
        return parseUri(text.mid(6));
    if (text.startsWith(QLatin1String("ssh")) && text.size() > 3 && text.at(3).isSpace())
        return parseCommand(text.mid(4));
    // Words without "ssh " in front, as ssh users write a port: "user@host -p 2240".
    for (const QChar c : text) {
        if (c.isSpace())
            return parseCommand(text);
    }
    return parseDestination(text);
}

} // namespace

Outcome<ServerAddress> ServerAddress::parse(const QString& text)
{
    try {
        return Outcome<ServerAddress>::success(parseText(text));
    } catch (const ParseError& error) {
        return Outcome<ServerAddress>::failure(error.description());
    }
}

Outcome<> ServerAddress::checkUser(const QString& user)
{
    try {
        validateUser(user);
        return Outcome<>::success();
    } catch (const ParseError& error) {
        return Outcome<>::failure(error.description());
    }
}

QString ServerAddress::canonical() const { return SSHSession::formatAddress(user, host, port); }
