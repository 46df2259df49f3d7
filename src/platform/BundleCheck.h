#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// Whether a bundle folder is a release of tarnel signed by one of the publisher's keys: its info.json,
// its manifest and signature, and every file against the manifest. Shared by the updater and the
// administrator step of an installation, which checks its own copy again.
class BundleCheck {
public:
    // None when accepted, else the message users see. `expectedBuild` none: any whole build number.
    static std::optional<QString> verify(const QString& app, std::optional<qint64> expectedBuild,
                                         const std::optional<QList<QByteArray>>& publisherKeys);
    // The build number in the bundle's info.json, when it is a whole number.
    static std::optional<qint64> build(const QString& app);
    // Keys as built in: base64 of raw Ed25519 keys, separated by commas; malformed ones are dropped.
    static QList<QByteArray> decodeKeys(const QString& text);
    // A decimal integer with an optional sign and nothing else.
    static std::optional<qint64> wholeNumber(const QString& text);
};
