#pragma once

#include <functional>

class AppState;
class ThumbnailCache;

// What the panel's views are built with.
struct PanelContext {
    AppState& app;
    ThumbnailCache& thumbnails;
    std::function<void()> closePanel; // hides the panel window
};
