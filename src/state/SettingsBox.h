#pragma once

#include "state/Settings.h"

#include <mutex>

// A consistent copy of the settings for code off the main thread.
class SettingsBox {
public:
    Settings get() const
    {
        std::lock_guard lock(mutex);
        return value;
    }
    void set(const Settings& settings)
    {
        std::lock_guard lock(mutex);
        value = settings;
    }

private:
    mutable std::mutex mutex;
    Settings value;
};
