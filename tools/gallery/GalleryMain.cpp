// The window gallery: renders every scene in each of its states to
// <directory>/<scene>-<state>.png at 2×, and runs the layout audit over each (the one the tests
// run: text, overlaps and every window's layout). Exits 1 when the audit finds a problem (the
// pictures are still written), 2 on a usage or write error.

#include "gallery/GalleryAudit.h"

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
                const auto audited = gallery::audit(scene, state);
                const auto path = directory / gallery::fileName(scene, state);
                platform::Renderer::writePNG(audited.recording, path);
                std::printf("%s\n", path.c_str());
                for (const auto& finding : audited.findings) {
                    ++findings;
                    std::fprintf(stderr, "%s: %s\n", gallery::fileName(scene, state).c_str(), finding.c_str());
                }
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tarpelix_gallery: %s\n", error.what());
        return 2;
    }
    return findings == 0 ? 0 : 1;
}
