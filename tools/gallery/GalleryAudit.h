#pragma once

#include "gallery/GalleryScenes.h"

#include <string>
#include <vector>

namespace tarpelix::gallery {

// One state of a scene, drawn and looked at.
struct AuditedState {
    platform::RecordingContext recording;
    // What the layout audit found, one line each: text that does not fit its box (truncation a
    // label asks for fits) or lacks glyphs, and in every window the scene drew, layout issues
    // (ambiguous frames, broken constraints, unsettled wrapping, grown windows) and visible
    // siblings that overlap without the scene declaring it.
    std::vector<std::string> findings;
    // How many windows the scene drew.
    int windows = 0;
};

// Records the state and audits it; the gallery program and the tests share it.
AuditedState audit(const Scene& scene, const std::string& state);

} // namespace tarpelix::gallery
