#include "qhp/options.h"

#include <getopt.h>

#include <string_view>

#include "output/xml_text.h"

#ifndef SITEMAP_VERSION
#define SITEMAP_VERSION "unknown"
#endif

namespace sitemap {

namespace {

constexpr const char* PROGRAM = "sitemap-to-qhp";

constexpr const char* USAGE =
    "Usage: sitemap-to-qhp [OPTION]... [PROJECT.hhp | BOOK.chm]...\n"
    "Convert an HTML Help project or compiled book into a Qt Help Project for qhelpgenerator\n"
    "and Qt Assistant. With PROJECT.hhp: the project as its author made it (its sitemaps,\n"
    "title, start page and code page), into a folder of its own, NAME/NAME.qhp with the pages\n"
    "it packs, converted to UTF-8. With BOOK.chm: every file of the book into such a folder,\n"
    "converted the same way. Without: the sitemaps of the current folder (Contents.hhc,\n"
    "Index.hhk), into qt-assistant.qhp beside them. With several: a shelf, each book in\n"
    "DIR/NAME, and one collection of them all for Qt Assistant.\n"
    "\n"
    "  --qch                  then run qhelpgenerator, for NAME.qch beside the .qhp\n"
    "  --open                 open the one book or project in Qt Assistant: converted once\n"
    "                         into ~/.cache/sitemap-to-qhp, registered in the library\n"
    "                         ~/.local/share/sitemap-to-qhp/library.qhc\n"
    "  --output-dir DIR       the folder to convert a project or book into, new or empty\n"
    "                         (default NAME: the stem of the project's compiled file, or of\n"
    "                         the book); for a shelf, the folder of its books' folders\n"
    "                         (default the current one)\n"
    "  --collection NAME      the shelf's collection: DIR/NAME.qhc with --qch, else the\n"
    "                         collection project DIR/NAME.qhcp (default help)\n"
    "  -j, --jobs N           convert N books of a shelf at once (default: one for each\n"
    "                         processor)\n"
    "  --namespace NS         the help namespace (default ordax.documentation; for a project,\n"
    "                         made from NAME)\n"
    "  --title TEXT           the title of the root section (default ORDAX Documentation; with\n"
    "                         --html or a project, the project's own title)\n"
    "  --virtual-folder NAME  the virtual folder (default doc)\n"
    "  --output NAME.qhp      the file to write in the current folder (default qt-assistant.qhp)\n"
    "  --encoding NAME        the inputs' character set (default UTF-8 when both files are\n"
    "                         valid UTF-8, else windows-1252)\n"
    "  --html                 read the sitemaps as HTML, in any of the forms that HTML Help\n"
    "                         Workshop, Doxygen and other generators write, instead of by\n"
    "                         the strict line grammar of sitemap-to-dcf\n"
    "  --contents FILE        the table of contents (default Contents.hhc)\n"
    "  --index FILE           the keyword index (default Index.hhk)\n"
    "  --help                 show this help and exit\n"
    "  --version              show the version and exit\n"
    "\n"
    "Exit status: 0 on success, 1 when the conversion failed, 2 for a bad option.\n"
    "Then (or with --qch): qhelpgenerator NAME.qhp -o NAME.qch\n";

enum Option {
  namespace_option = 256,
  title,
  virtual_folder,
  output,
  encoding,
  contents,
  index,
  html,
  output_dir,
  qch,
  collection,
  jobs,
  open_option
};

const option LONG_OPTIONS[] = {{"namespace", required_argument, nullptr, namespace_option},
                               {"title", required_argument, nullptr, title},
                               {"virtual-folder", required_argument, nullptr, virtual_folder},
                               {"output", required_argument, nullptr, output},
                               {"encoding", required_argument, nullptr, encoding},
                               {"contents", required_argument, nullptr, contents},
                               {"index", required_argument, nullptr, index},
                               {"html", no_argument, nullptr, html},
                               {"output-dir", required_argument, nullptr, output_dir},
                               {"qch", no_argument, nullptr, qch},
                               {"collection", required_argument, nullptr, collection},
                               {"jobs", required_argument, nullptr, jobs},
                               {"open", no_argument, nullptr, open_option},
                               {"help", no_argument, nullptr, 'h'},
                               {"version", no_argument, nullptr, 'V'},
                               {nullptr, 0, nullptr, 0}};

Parsed usage_error(std::string& message, const std::string& text) {
  message = std::string(PROGRAM) + ": " + text + " (see --help)";
  return Parsed::usage_error;
}

bool is_namespace_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

// The namespaces qhelpgenerator accepts.
const char* namespace_problem(std::string_view ns) {
  if (ns.empty()) return "it is empty";
  for (char c : ns) {
    if (!is_namespace_char(c))
      return "only ASCII letters, digits, '.', '_' and '-' may stand in it";
  }
  if (ns.find("..") != std::string_view::npos) return "it holds '..'";
  if (ns.front() == '.' || ns.front() == '-') return "it starts with '.' or '-'";
  if (ns.back() == '-') return "it ends with '-'";
  return nullptr;
}

const char* virtual_folder_problem(std::string_view folder) {
  if (folder.empty()) return "it is empty";
  if (folder.find_first_of("/#?%") != std::string_view::npos) {
    return "'/', '#', '?' and '%' may not stand in it";
  }
  if (!is_valid_utf8(folder)) return "it is not UTF-8";
  return nullptr;
}

const char* output_problem(std::string_view name) {
  constexpr std::string_view ending = ".qhp";
  if (name.size() <= ending.size() || name.substr(name.size() - ending.size()) != ending) {
    return "it must end in .qhp, for qhelpgenerator to read it as a help project";
  }
  if (name.find('/') != std::string_view::npos) return "it must be a file of the current folder";
  return nullptr;
}

// The first option given that names one book's files or how one book is read, or null.
const char* one_book_option(const QhpOptions& options) {
  const std::pair<bool, const char*> one_book[] = {
      {options.namespace_given, "--namespace"}, {options.output_given, "--output"},
      {options.title_given, "--title"},         {options.contents_given, "--contents"},
      {options.index_given, "--index"},         {options.html, "--html"}};
  for (const auto& [given, name] : one_book) {
    if (given) return name;
  }
  return nullptr;
}

}  // namespace

Parsed parse_options(int argc, char** argv, QhpOptions& options, std::string& message) {
  opterr = 0;  // the messages below say more than getopt's
  optind = 1;
  QhpSettings& settings = options.settings;
  for (;;) {
    const int previous = optind;
    const int c = getopt_long(argc, argv, ":j:", LONG_OPTIONS, nullptr);
    if (c == -1) break;
    const std::string given = previous < argc ? argv[previous] : "";
    switch (c) {
      case namespace_option:
        settings.namespace_name = optarg;
        options.namespace_given = true;
        break;
      case title:
        settings.title = optarg;
        options.title_given = true;
        break;
      case virtual_folder:
        settings.virtual_folder = optarg;
        options.virtual_folder_given = true;
        break;
      case output:
        settings.output_name = optarg;
        options.output_given = true;
        break;
      case encoding:
        options.encoding = optarg;
        if (options.encoding.empty()) return usage_error(message, "the encoding is empty");
        break;
      case contents:
        options.contents = optarg;
        options.contents_given = true;
        break;
      case index:
        options.index = optarg;
        options.index_given = true;
        break;
      case qch:
        options.qch = true;
        break;
      case output_dir:
        options.output_dir = optarg;
        if (options.output_dir.empty()) return usage_error(message, "the output folder is empty");
        break;
      case html:
        options.html = true;
        break;
      case open_option:
        options.open = true;
        break;
      case collection:
        options.collection = optarg;
        options.shelf = true;
        break;
      case 'j':
      case jobs: {
        const std::string value = optarg;
        unsigned n = 0;
        for (const char d : value) {
          if (d < '0' || d > '9' || n > 1000) {
            n = 0;
            break;
          }
          n = n * 10 + static_cast<unsigned>(d - '0');
        }
        if (n == 0 || n > 1000) {
          return usage_error(message, "invalid number of jobs '" + value + "': 1 to 1000");
        }
        options.jobs = n;
        break;
      }
      case 'h':
        message = USAGE;
        return Parsed::done;
      case 'V':
        message = std::string(PROGRAM) + " " + SITEMAP_VERSION + "\n";
        return Parsed::done;
      case ':':
        return usage_error(message, "option '" + given + "' needs a value");
      default:
        return usage_error(message, "unknown option '" + given + "'");
    }
  }
  while (optind < argc) options.inputs.emplace_back(argv[optind++]);
  if (options.open) {
    // The book is converted as the cache keeps it: only its character set may be chosen.
    const std::pair<bool, const char*> chosen[] = {
        {!options.output_dir.empty(), "--output-dir"},
        {options.shelf, "--collection"},
        {options.jobs != 0, "--jobs"},
        {options.virtual_folder_given, "--virtual-folder"}};
    const char* option = one_book_option(options);
    for (const auto& [given, name] : chosen) {
      if (given && option == nullptr) option = name;
    }
    if (option != nullptr) return usage_error(message, std::string(option) + " is not for --open");
    if (options.inputs.size() != 1) {
      return usage_error(message, "--open takes one book or project");
    }
    options.project = options.inputs.front();
    return Parsed::run;
  }
  options.shelf = options.shelf || options.inputs.size() > 1;
  if (options.inputs.size() == 1 && !options.shelf) options.project = options.inputs.front();
  if (options.inputs.empty() && (options.shelf || !options.output_dir.empty())) {
    return usage_error(message, std::string(options.shelf ? "--collection" : "--output-dir") +
                                    " needs a project to convert");
  }
  if (options.shelf) {
    // What names one book's files would name every book's the same.
    if (const char* option = one_book_option(options)) {
      return usage_error(message, std::string(option) + " is for one book, not a shelf");
    }
    if (options.collection.empty() || options.collection.find('/') != std::string::npos ||
        options.collection[0] == '.') {
      return usage_error(message, "invalid collection '" + options.collection +
                                      "': a name of a file, without '/', not hidden");
    }
  }
  if (const char* problem = namespace_problem(settings.namespace_name)) {
    return usage_error(message, "invalid namespace '" + settings.namespace_name + "': " + problem);
  }
  if (const char* problem = virtual_folder_problem(settings.virtual_folder)) {
    return usage_error(message,
                       "invalid virtual folder '" + settings.virtual_folder + "': " + problem);
  }
  if (const char* problem = output_problem(settings.output_name)) {
    return usage_error(message, "invalid output '" + settings.output_name + "': " + problem);
  }
  if (!is_valid_utf8(settings.title)) return usage_error(message, "the title is not UTF-8");
  if (options.contents.empty() || options.index.empty()) {
    return usage_error(message, "an input file name is empty");
  }
  return Parsed::run;
}

}  // namespace sitemap
