// The window gallery: renders every scene in each of its states to
// <directory>/<scene>-<state>.png at 2×, and runs the layout audit over each. Exits 1 when the
// audit finds a problem (the pictures are still written), 2 on a usage or write error.

#include "gallery/GalleryScenes.h"

#include "platform/appkit/Renderer.h"

#include <cstdio>
#include <exception>
#include <string>

using namespace tarpelix;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarpelix_gallery DIRECTORY\n");
        return 2;
    }
    const std::filesystem::path directory = argv[1];
    int findings = 0;
    try {
        std::filesystem::create_directories(directory);
        for (const auto& scene : gallery::scenes()) {
            for (const auto& state : scene.states) {
                const auto recording = gallery::record(scene, state);
                const auto path = directory / gallery::fileName(scene, state);
                platform::Renderer::writePNG(recording, path);
                std::printf("%s\n", path.c_str());
                for (const auto& issue : platform::auditLayout(recording)) {
                    ++findings;
                    std::fprintf(stderr, "%s: %s: \"%s\" at %.1f, %.1f (%.1f × %.1f)\n",
                                 gallery::fileName(scene, state).c_str(),
                                 issue.kind == platform::LayoutIssue::Kind::textDoesNotFit
                                     ? "text does not fit its box"
                                     : "characters without a glyph",
                                 issue.text.c_str(), issue.frame.origin.x, issue.frame.origin.y,
                                 issue.frame.size.width, issue.frame.size.height);
                }
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tarpelix_gallery: %s\n", error.what());
        return 2;
    }
    return findings == 0 ? 0 : 1;
}
