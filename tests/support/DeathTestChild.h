#pragma once

// For the statement of a threadsafe-style death test. Its child runs the test again up to the
// statement, so it makes scratch folders of its own, and it leaves by _Exit, which runs no
// destructor: without this, those folders would outlive the test.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace tarpelix::testing {

// Removes the child's own scratch folder and ends the child with `status`.
[[noreturn]] inline void exitRemoving(const std::filesystem::path& scratch, int status) {
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    std::fflush(nullptr);
    std::_Exit(status);
}

} // namespace tarpelix::testing
