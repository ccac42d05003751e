// The window gallery: renders every scene in each of its states to
// <directory>/<scene>-<state>.png at 2×, runs the layout audit over each (the one the tests
// run: text, overlaps and every window's layout) and writes <directory>/index.html, which lists
// every scene with each state's picture and what the audit found. Exits 1 when the audit finds
// a problem (the pictures and the page are still written), 2 on a usage or write error.

#include "gallery/GalleryAudit.h"

#include "platform/appkit/Renderer.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <stdexcept>
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
        std::vector<gallery::IndexEntry> entries;
        for (const auto& scene : gallery::scenes()) {
            for (const auto& state : scene.states) {
                const auto audited = gallery::audit(scene, state);
                const auto path = directory / gallery::fileName(scene, state);
                platform::Renderer::writePNG(audited.recording, path);
                std::printf("%s\n", path.c_str());
                const auto file = gallery::fileName(scene, state);
                for (const auto& finding : audited.findings) {
                    ++findings;
                    std::fprintf(stderr, "%s: %s\n", file.c_str(), finding.c_str());
                }
                entries.push_back({scene.name, scene.size.width, state, audited.findings});
            }
        }
        const auto page = directory / "index.html";
        std::ofstream out(page, std::ios::binary | std::ios::trunc);
        out << gallery::indexPage(entries);
        out.close();
        if (!out) throw std::runtime_error("cannot write " + page.string());
        std::printf("%s\n", page.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tarpelix_gallery: %s\n", error.what());
        return 2;
    }
    return findings == 0 ? 0 : 1;
}
