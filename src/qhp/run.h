// One run of sitemap-to-qhp, once its options are read.
#pragma once

#include "qhp/options.h"

namespace sitemap {

// Converts the inputs named in `options` into the .qhp and prints what the run has to say;
// the exit status: 0, 1 when the conversion failed, 2 for an encoding iconv does not know.
int run_sitemap_to_qhp(QhpOptions& options);

}  // namespace sitemap
