// Where the keyword lookup hands the keywords it finds: the output format of the run.
#pragma once

#include <string_view>

namespace sitemap {

class KeywordSink {
 public:
  virtual ~KeywordSink() = default;
  // One keyword under the section opened last; false when it could not be written.
  virtual bool keyword(std::string_view ref, std::string_view path) = 0;
  // The message a failed write ends the run with ("Failed to write qt-assistant.dcf.").
  virtual std::string_view write_failure() const = 0;
};

}  // namespace sitemap
