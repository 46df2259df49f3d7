#pragma once

#include <QTest>
#include <functional>
#include <memory>
#include <optional>

// Named time limits for waits. A wait returns as soon as its condition holds; the limits are generous
// because a machine running the whole suite is slow.
namespace Limit {
constexpr int local = 5000;    // the event loop, local files and processes
constexpr int network = 20000; // the account service, a transfer
constexpr int ssh = 60000;     // a login, an install on a server
} // namespace Limit

// Runs the event loop until `condition` holds or the limit passed; whether it holds.
template <class Condition>
bool waitUntil(Condition condition, int limitMs = Limit::local)
{
    return QTest::qWaitFor(condition, limitMs);
}

// The value a completion hands over: pass callback() to the operation, then wait() for it.
template <class T>
class Caught {
public:
    std::function<void(const T&)> callback() const
    {
        return [slot = slot](const T& value) { *slot = value; };
    }
    // The value; none when it did not come within the limit.
    std::optional<T> wait(int limitMs = Limit::local) const
    {
        waitUntil([this] { return slot->has_value(); }, limitMs);
        return *slot;
    }

private:
    std::shared_ptr<std::optional<T>> slot = std::make_shared<std::optional<T>>();
};
