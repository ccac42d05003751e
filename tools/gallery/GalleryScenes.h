#pragma once

#include "platform/appkit/Color.h"
#include "platform/appkit/RecordingContext.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tarpelix::gallery {

// One picture of the gallery: a window (for now drawn straight into a recording) shown in
// each of its states.
struct Scene {
    std::string name;
    std::vector<std::string> states;
    platform::Size size;
    // Draws the state; the drawing appearance is already the state's.
    std::function<void(platform::GraphicsContext& context, const std::string& state)> draw;
};

const std::vector<Scene>& scenes();

// The appearance a state is drawn under: "dark" is the dark appearance, any other light;
// "contrast" is light with Increase Contrast.
platform::DrawingAppearance appearance(const std::string& state);

// The state drawn into a recording of the scene's size, under the state's appearance.
platform::RecordingContext record(const Scene& scene, const std::string& state);

// "<scene>-<state>.png".
std::string fileName(const Scene& scene, const std::string& state);

} // namespace tarpelix::gallery
