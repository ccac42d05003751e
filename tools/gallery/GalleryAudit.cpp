#include "gallery/GalleryAudit.h"

#include "platform/appkit/Label.h"
#include "platform/appkit/ScrollView.h"
#include "platform/appkit/TextLayout.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <typeinfo>

namespace tarpelix::gallery {

using namespace platform;

namespace {

std::string describe(const View& view) {
    if (!view.identifier().empty()) return view.identifier();
    const std::string label = view.accessibilityLabel();
    return label.empty() ? typeid(view).name() : label;
}

bool shows(const View& view) { return !view.isHidden() && view.alphaValue() > 0 && !view.frame().isEmpty(); }

// Visible siblings that overlap by more than a hairline, unless one of them is allowed to: the
// scene declares it, or it is an overlay scroller, which floats over its scroll view's content.
void findOverlaps(const View& view, const std::vector<std::string>& allowed, std::vector<std::string>& findings) {
    const auto isAllowed = [&](const View& v) {
        const auto* scroller = dynamic_cast<const Scroller*>(&v);
        return (scroller && scroller->style() == ScrollerStyle::overlay) ||
               std::ranges::find(allowed, v.identifier()) != allowed.end();
    };
    std::vector<const View*> visible;
    for (const auto& subview : view.subviews()) {
        if (shows(*subview)) visible.push_back(subview.get());
    }
    for (std::size_t i = 0; i < visible.size(); ++i) {
        for (std::size_t j = i + 1; j < visible.size(); ++j) {
            const Rect overlap = visible[i]->frame().intersection(visible[j]->frame());
            if (overlap.width() > 0.5 && overlap.height() > 0.5 && !isAllowed(*visible[i]) && !isAllowed(*visible[j])) {
                findings.push_back("overlapping siblings: " + describe(*visible[i]) + " / " + describe(*visible[j]));
            }
        }
    }
    for (const View* subview : visible) findOverlaps(*subview, allowed, findings);
}

const char* kindName(WindowLayoutIssue::Kind kind) {
    switch (kind) {
    case WindowLayoutIssue::Kind::ambiguousFrame: return "ambiguous frame";
    case WindowLayoutIssue::Kind::brokenConstraint: return "broken constraint";
    case WindowLayoutIssue::Kind::unsettledWrapping: return "unsettled wrapping";
    case WindowLayoutIssue::Kind::windowGrew: return "window grew";
    }
    return "?";
}

// The texts the scene's clipping labels show in the window, which may not fit their boxes.
void collectClippable(const Window& window, const Scene& scene, std::set<std::string>& texts) {
    for (const std::string& identifier : scene.allowedClipping) {
        const auto* label = dynamic_cast<const Label*>(window.frameView().viewWithIdentifier(identifier));
        if (label && label->lineBreakMode() == LineBreakMode::byClipping) texts.insert(label->stringValue());
    }
}

void auditWindow(const Window& window, const Scene& scene, std::vector<std::string>& findings) {
    for (const auto& issue : window.layoutIssues()) {
        findings.push_back(std::string(kindName(issue.kind)) + ": " + issue.description);
    }
    findOverlaps(window.frameView(), scene.allowedOverlaps, findings);
    if (const Window* sheet = window.attachedSheet()) auditWindow(*sheet, scene, findings);
}

} // namespace

AuditedState audit(const Scene& scene, const std::string& state) {
    std::vector<std::string> findings;
    int windows = 0;
    std::set<std::string> clippable;
    auto recording = record(scene, state, [&](const Window& window) {
        ++windows;
        auditWindow(window, scene, findings);
        collectClippable(window, scene, clippable);
    });
    for (const auto& issue : auditLayout(recording)) {
        if (issue.kind == LayoutIssue::Kind::textDoesNotFit && clippable.contains(issue.text)) continue;
        char where[96];
        std::snprintf(where, sizeof where, " (at %.1f, %.1f, %.1f × %.1f)", issue.frame.origin.x, issue.frame.origin.y,
                      issue.frame.size.width, issue.frame.size.height);
        findings.push_back((issue.kind == LayoutIssue::Kind::textDoesNotFit ? "text does not fit: " : "missing glyphs: ") +
                           issue.text + where);
    }
    return {std::move(recording), std::move(findings), windows};
}

} // namespace tarpelix::gallery
