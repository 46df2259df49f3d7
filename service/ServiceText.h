#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>
#include <string>

namespace httplib {
struct Response;
}

// Small conversions shared by the HTTP side and the admin command line.
namespace ServiceText {

inline QString q(const std::string& text) { return QString::fromStdString(text); }
inline std::string s(const QString& text) { return text.toStdString(); }

// Seconds since the epoch, and their ISO text for listings.
int64_t now();
std::string isoTime(int64_t seconds);

// ".png" or ".jpg" by an image's first bytes; none for anything else.
std::optional<std::string> imageSuffix(const std::string& bytes);

// A JSON reply; an error reply carries `error` (shown to the user) and optionally the account word.
void reply(httplib::Response& res, int status, const QJsonObject& body);
void refuse(httplib::Response& res, int status, const QString& error,
            const std::optional<QString>& account = std::nullopt);
// The 503 of a service with no room for the request now, with the seconds to wait before trying again.
void refuseBusy(httplib::Response& res, int retryAfter = 5);
// The 401 for a token that does not work; one revoked with its removed device says so ("removed").
void refuseSignIn(httplib::Response& res, bool removedDevice);

} // namespace ServiceText
