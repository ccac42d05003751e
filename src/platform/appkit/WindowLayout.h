#pragma once

#include "platform/appkit/LayoutSolver.h"

#include <map>
#include <set>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarpelix::platform {

class View;
class Window;

// Something the layout of a window got wrong, for the layout audit.
struct WindowLayoutIssue {
    enum class Kind {
        ambiguousFrame,    // the constraints leave a visible view's frame open
        brokenConstraint,  // a required constraint could not hold and was left out
        unsettledWrapping, // a wrapping view's height kept changing its width
        windowGrew,        // the content needed more than the window's content size
    };
    Kind kind;
    std::string description;
    std::weak_ptr<View> view; // the view concerned, when there is one
};

// The constraint solver of one window's content view tree; each broken constraint is reported
// once however many passes it stays broken.
// Each pass gathers the constraints from the views as they are now: the active view
// constraints, the frames of views that translate their autoresizing masks (relative to
// their superviews), the intrinsic sizes of those that do not, the wrapping views' heights
// and the window's content size (at priority 500). Views without constraints of any kind
// take no part, so a window laid out by frames alone is left as it is. Main thread only.
class WindowLayout {
public:
    explicit WindowLayout(Window& window);
    ~WindowLayout();

    // Solves and writes the frames of the views placed by constraints; grows (or shrinks) the
    // window when its content needs another size.
    void run();
    // The reports so far (broken constraints, window growth) and the findings of the last
    // pass (ambiguous frames, unsettled wrapping).
    std::vector<WindowLayoutIssue> issues() const;

    // Rounds of solving and measuring wrapping views before their heights count as unsettled.
    static constexpr int maximumWrappingRounds = 8;

private:
    struct Variables {
        LayoutVariable left, top, width, height;
    };
    using Key = std::pair<const void*, int>;
    struct Installed {
        LayoutConstraint constraint;
        LayoutSolver::Handle handle = 0;
    };

    Variables& variables(const View* view);
    LayoutExpression attribute(const View* view, int attribute);
    // Adds, updates or keeps the constraint under the key.
    void put(const Key& key, LayoutConstraint constraint);
    void gatherAutoresizing(const View& view);
    void gatherIntrinsic(const View& view);
    void resetSolver();

    Window& window_;
    LayoutSolver solver_;
    std::unordered_map<const View*, Variables> variables_;
    std::map<Key, Installed> installed_;
    std::unordered_map<const View*, double> wrapHeights_;
    std::vector<WindowLayoutIssue> reports_;
    std::set<std::string> reportedBroken_;
    std::vector<WindowLayoutIssue> findings_;
};

} // namespace tarpelix::platform
