#include "output/qhp_writer.h"

namespace sitemap {

namespace {

constexpr std::string_view DEFAULT_PAGE = "index.html";
constexpr std::string_view INDENT = "                                                            ";

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A page's file name: the ref without its anchor, %XX escapes decoded.
std::string file_of_page(std::string_view ref) {
  ref = ref.substr(0, ref.find('#'));
  std::string name;
  for (std::size_t i = 0; i < ref.size(); ++i) {
    if (ref[i] == '%' && i + 2 < ref.size() && hex_value(ref[i + 1]) >= 0 &&
        hex_value(ref[i + 2]) >= 0) {
      name += static_cast<char>(hex_value(ref[i + 1]) * 16 + hex_value(ref[i + 2]));
      i += 2;
    } else {
      name += ref[i];
    }
  }
  return name;
}

void append_attribute(std::string& out, std::string_view name, std::string_view text) {
  out.append(" ").append(name).append("=\"");
  XmlText::append_escaped(out, text);
  out += '"';
}

}  // namespace

QhpOutput::QhpOutput(OutputStream& stream, const QhpSettings& settings, XmlText& text)
    : out_(stream),
      settings_(settings),
      text_(text),
      write_failure_("Failed to write " + settings.output_name + "."),
      files_(settings.files.begin(), settings.files.end()) {}

bool QhpOutput::write_indent(int depth) {
  std::size_t n = 2 * static_cast<std::size_t>(depth);
  for (; n > INDENT.size(); n -= INDENT.size()) {
    if (!out_.write(INDENT)) return false;
  }
  return out_.write(INDENT.substr(0, n));
}

bool QhpOutput::begin() {
  element_ =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<QtHelpProject version=\"1.0\">\n"
      "  <namespace>";
  XmlText::append_escaped(element_, settings_.namespace_name);
  element_ += "</namespace>\n  <virtualFolder>";
  XmlText::append_escaped(element_, settings_.virtual_folder);
  element_ += "</virtualFolder>\n  <filterSection>\n    <toc>\n      <section";
  append_attribute(element_, "title", settings_.title);
  append_attribute(element_, "ref", DEFAULT_PAGE);
  element_ += ">\n";
  check_page(std::string(DEFAULT_PAGE));
  open_elements_ = 4;  // QtHelpProject, filterSection, toc and the root section
  entry_open_.assign(1, false);
  return out_.write(element_);
}

bool QhpOutput::close_entry() {
  if (!entry_open_.back()) return true;
  entry_open_.back() = false;
  --open_elements_;
  if (tag_open_) {
    tag_open_ = false;
    return out_.write("/>\n");
  }
  return write_indent(open_elements_) && out_.write("</section>\n");
}

bool QhpOutput::section(std::string_view ref, std::string_view title) {
  if (!close_entry()) return false;
  // The entry above has content after all: this one.
  if (tag_open_ && !out_.write(">\n")) return false;
  tag_open_ = false;
  element_ = "<section";
  append_attribute(element_, "title", text_.decode(title));
  append_attribute(element_, "ref", page_ref(ref));
  if (!write_indent(open_elements_) || !out_.write(element_)) return false;
  tag_open_ = true;
  ++open_elements_;
  entry_open_.back() = true;
  return true;
}

bool QhpOutput::list_start() {
  entry_open_.push_back(false);
  return true;
}

bool QhpOutput::list_end() {
  if (!close_entry()) return false;
  // The list that holds the top-level entries is never left: a surplus list end changes nothing.
  if (entry_open_.size() > 1) entry_open_.pop_back();
  return true;
}

bool QhpOutput::keyword(std::string_view ref, std::string_view path) {
  // qhelpgenerator skips a keyword without a name, with a warning.
  if (text_.decode(path).empty()) return true;
  element_.assign(INDENT.substr(0, 6)).append("<keyword");
  append_attribute(element_, "name", text_.decode(path));
  append_attribute(element_, "ref", page_ref(ref));
  element_ += "/>\n";
  if (keywords_seen_.insert(element_).second) keywords_ += element_;
  return true;
}

bool QhpOutput::end() {
  while (!entry_open_.empty()) {
    if (!close_entry()) return false;
    entry_open_.pop_back();
  }
  if (!out_.write("      </section>\n    </toc>\n    <keywords>\n") || !out_.write(keywords_) ||
      !out_.write("    </keywords>\n    <files>\n")) {
    return false;
  }
  for (const std::string& file : settings_.files) {
    element_ = "      <file>";
    XmlText::append_escaped(element_, file);
    element_ += "</file>\n";
    if (!out_.write(element_)) return false;
  }
  return out_.write("    </files>\n  </filterSection>\n</QtHelpProject>\n");
}

const std::string& QhpOutput::page_ref(std::string_view ref) {
  ref_ = text_.decode(ref);
  // Assistant finds no page by a ref that starts with "./".
  std::size_t dots = 0;
  while (ref_.compare(dots, 2, "./") == 0) dots += 2;
  ref_.erase(0, dots);
  if (ref_.empty()) ref_ = DEFAULT_PAGE;
  check_page(ref_);
  return ref_;
}

void QhpOutput::check_page(const std::string& ref) {
  // A link out of the project is no page of it.
  if (ref.find("://") != std::string::npos) return;
  std::string file = file_of_page(ref);
  if (files_.count(file) != 0 || !pages_warned_.insert(file).second) return;
  warnings_.append("Warning: no file for page ").append(file).append(".\n");
}

}  // namespace sitemap
