#pragma once

#include <QString>
#include <QStringList>

// Two network namespaces for two machines, "a" and "b", each joined to this namespace by a veth pair
// (10.77.1.2 and 10.77.2.2, routed through 10.77.1.1 and 10.77.2.1 here, where the account service can
// listen), and to each other by a third pair (10.77.3.1 <-> 10.77.3.2) that can be cut. Root only;
// everything goes away with the rig. One rig at a time on the machine (the addresses are fixed).
class NetNamespaces {
public:
    NetNamespaces();
    ~NetNamespaces();
    NetNamespaces(const NetNamespaces&) = delete;
    NetNamespaces& operator=(const NetNamespaces&) = delete;

    // An error text, or empty when both namespaces are up (fails where namespaces cannot be made).
    QString setUp();
    // The command prefix that runs a program inside a machine's namespace.
    QStringList launcher(char machine) const;
    // Brings the direct pair down or up on both sides.
    bool setDirect(bool up);
    // Adds an address to a machine's side of the direct pair.
    bool addDirectAddress(char machine, const QString& cidr);
    // Adds addresses to both ends of a machine's pair to this namespace (`inside` in the machine, `here`
    // on this side), usable at once (no duplicate address detection).
    bool addUplinkAddresses(char machine, const QString& inside, const QStringList& here);

private:
    QString name(char machine) const;
    bool run(const QStringList& args, QString* error = nullptr) const;

    QString tag;
    int lockFd = -1;
    bool made = false;
};
