#pragma once

#include "state/Outcome.h"

#include <QString>

// This device as the account knows it: display name, ssh alias and registration time, kept in
// <state>/device.json so a relaunch with another --name never undoes a rename.
struct SelfRecord {
    QString name;
    QString alias;
    QString createdAt;

    // The stored record, or one made from `defaultName` for the first registration.
    static SelfRecord load(const QString& path, const QString& defaultName);
    Outcome<> save(const QString& path) const;

    static bool validAlias(const QString& alias);
    // 1 to 40 user-perceived characters after trimming blanks and tabs, no control characters.
    static bool validName(const QString& name);
    static QString trimName(const QString& name);
    // An alias proposed for a name: lower-case ASCII letters and digits, runs of anything else as one "-".
    static QString aliasSlug(const QString& name);
};
