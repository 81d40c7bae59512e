// The last step to Qt Assistant, when asked for (--qch): qhelpgenerator builds the .qhp just
// written into compressed help (.qch) beside it.
#pragma once

#include <string>

namespace sitemap {

// The error line's message where find_qhelpgenerator() finds none.
inline constexpr const char* QHELPGENERATOR_NOT_FOUND =
    "qhelpgenerator not found: install it (qt6-documentation-tools), or set $QHELPGENERATOR to "
    "it.";

// qhelpgenerator as $QHELPGENERATOR names it (passed over where it names no program), else on
// PATH, else in Qt 6's and Qt 5's usual folders; empty when there is none.
std::string find_qhelpgenerator();

// Runs `generator` on the .qhp `qhp_path`, for the .qch of the same stem beside it, and, where
// there is none, an empty collection file (.qhc) of that stem to register it in. Its output is
// kept in `output`, for when it failed. False when it failed.
bool run_qhelpgenerator(const std::string& generator, const std::string& qhp_path,
                        std::string& output);

// Runs `generator` in `folder` on `input` (a .qhp or .qhcp there), for `result`; what it says is
// appended to `output`. False when it failed.
bool run_generator(const std::string& generator, const std::string& folder,
                   const std::string& input, const std::string& result, std::string& output);

}  // namespace sitemap
