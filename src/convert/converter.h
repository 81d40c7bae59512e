// The conversion run: the walk over the contents file that drives the DCF writer and the
// keyword lookup.
#pragma once

#include "io/sitemap_input.h"
#include "output/output_format.h"

namespace sitemap {

// Number of head lines of the contents file read and thrown away unexamined.
inline constexpr int CONTENTS_SKIP_LINES = 11;
// The page of a contents entry that names none.
inline constexpr std::string_view DEFAULT_REF = "index.html";

// Converts the open `files` into `output`, which writes to `files.output`, and closes them,
// whatever the outcome. On failure `report` holds the detail lines and the one error line; the
// output keeps what was written before the failure.
Outcome convert_sitemap(ConversionFiles& files, OutputFormat& output, Report& report);

// The same into the byte-exact DCF.
Outcome convert_sitemap(ConversionFiles& files, Report& report);

}  // namespace sitemap
