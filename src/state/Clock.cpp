#include "state/Clock.h"

namespace {
SystemClock systemClock;
Clock* current = &systemClock;
}

Clock& Clock::instance() { return *current; }

void Clock::setInstance(Clock* clock) { current = clock ? clock : &systemClock; }
