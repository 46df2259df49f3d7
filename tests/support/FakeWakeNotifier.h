#pragma once

#include "platform/WakeNotifier.h"

// Stands in for logind, which does not run here: a test says when the computer "woke".
class FakeWakeNotifier final : public WakeNotifier {
    Q_OBJECT
public:
    using WakeNotifier::WakeNotifier;
    void wake() { Q_EMIT woke(); }
    // How many objects listen for wake notices (one per started service).
    int listeners() const { return receivers(SIGNAL(woke())); }
};
