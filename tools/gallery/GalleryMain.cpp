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

namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarpelix_gallery DIRECTORY\n");
        return 2;
    }
    const std::filesystem::path directory = argv[1];
    int findings = 0;
    try {
        std::filesystem::create_directories(directory);
        std::string index = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                            "<title>Tarpelix window gallery</title><style>"
                            "body{font-family:sans-serif;margin:2em}figure{display:inline-block;margin:0 1em 1em 0;"
                            "vertical-align:top}img{border:1px solid #ccc;max-width:100%}"
                            ".finding{color:#b00020}</style></head><body>\n<h1>Tarpelix window gallery</h1>\n<ul>\n";
        for (const auto& scene : gallery::scenes())
            index += "<li><a href=\"#" + escaped(scene.name) + "\">" + escaped(scene.name) + "</a></li>\n";
        index += "</ul>\n";
        for (const auto& scene : gallery::scenes()) {
            index += "<section id=\"" + escaped(scene.name) + "\"><h2>" + escaped(scene.name) + "</h2>\n";
            for (const auto& state : scene.states) {
                const auto audited = gallery::audit(scene, state);
                const auto path = directory / gallery::fileName(scene, state);
                platform::Renderer::writePNG(audited.recording, path);
                std::printf("%s\n", path.c_str());
                const auto file = gallery::fileName(scene, state);
                // Shown at the window's size in points: the picture is drawn at 2×.
                index += "<figure><img src=\"" + escaped(file) + "\" width=\"" +
                         std::to_string(static_cast<int>(scene.size.width)) + "\" alt=\"" + escaped(scene.name) +
                         ", " + escaped(state) + "\"><figcaption>" + escaped(state);
                for (const auto& finding : audited.findings) {
                    ++findings;
                    std::fprintf(stderr, "%s: %s\n", file.c_str(), finding.c_str());
                    index += "<div class=\"finding\">" + escaped(finding) + "</div>";
                }
                index += "</figcaption></figure>\n";
            }
            index += "</section>\n";
        }
        index += "</body></html>\n";
        const auto page = directory / "index.html";
        std::ofstream out(page, std::ios::binary | std::ios::trunc);
        out << index;
        out.close();
        if (!out) throw std::runtime_error("cannot write " + page.string());
        std::printf("%s\n", page.c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "tarpelix_gallery: %s\n", error.what());
        return 2;
    }
    return findings == 0 ? 0 : 1;
}
