// The unit the service's caps and throttles count a client in.
#include "AddressGroup.h"

#include <QtTest>

class AddressGroupTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void addressesAreGroupedByWhatOneClientHolds()
    {
        const auto group = [](const char* address) { return QString::fromStdString(AddressGroup::of(address)); };
        QCOMPARE(group("192.0.2.7"), QStringLiteral("192.0.2.7"));
        QCOMPARE(group("::ffff:192.0.2.7"), QStringLiteral("192.0.2.7"));
        QCOMPARE(group("2001:db8:1:2:aaaa::1"), QStringLiteral("2001:db8:1:2::/64"));
        QCOMPARE(group("2001:db8:1:2:ffff:1:2:3"), group("2001:db8:1:2::9"));
        QVERIFY(group("2001:db8:1:3::1") != group("2001:db8:1:2::1"));
        QCOMPARE(group("fe80::1:2%eth0"), QStringLiteral("fe80::/64"));
        QCOMPARE(group("fe80::9%wlan0"), group("fe80::3"));
        QCOMPARE(group("not an address"), QStringLiteral("not an address"));
        const auto near = [](const char* address) { return QString::fromStdString(AddressGroup::neighbourhood(address)); };
        QCOMPARE(near("192.0.2.7"), QStringLiteral("192.0.2.0/24"));
        QCOMPARE(near("::ffff:192.0.2.200"), near("192.0.2.7"));
        QCOMPARE(near("2001:db8:1:2:aaaa::1"), QStringLiteral("2001:db8:1::/48"));
    }
};

QTEST_GUILESS_MAIN(AddressGroupTest)
#include "AddressGroupTest.moc"
