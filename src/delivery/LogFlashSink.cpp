#include "delivery/LogFlashSink.h"

#include "state/Log.h"

void LogFlashSink::flash(const QString& text, const std::optional<QString>&) { Log::write(text); }
