/* The least an --html run must do, for the benchmark to measure against: libxml2's HTML push
   parser over both sitemaps, configured as sitemap-to-qhp configures it (UTF-8, tag soup taken
   as it comes, nothing fetched) and given each file as it gives it, in pieces of 4 MiB, read
   with read(2), with SAX callbacks that do nothing.
   usage: html_floor CONTENTS INDEX   (prints the number of elements) */
#include <fcntl.h>
#include <libxml/HTMLparser.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#define PIECE (4 << 20)

static long elements;

static void start(void* context, const xmlChar* name, const xmlChar** attributes) {
  (void)context;
  (void)name;
  (void)attributes;
  ++elements;
}

static void end(void* context, const xmlChar* name) {
  (void)context;
  (void)name;
}

static void ignore(void* context, xmlErrorPtr error) {
  (void)context;
  (void)error;
}

static int parse(const char* path) {
  static htmlSAXHandler sax;
  static char piece[PIECE];
  const int fd = open(path, O_RDONLY);
  if (fd < 0) return 1;
  memset(&sax, 0, sizeof sax);
  sax.startElement = start;
  sax.endElement = end;
  sax.serror = ignore;
  sax.initialized = XML_SAX2_MAGIC;
  htmlParserCtxtPtr parser =
      htmlCreatePushParserCtxt(&sax, nullptr, nullptr, 0, nullptr, XML_CHAR_ENCODING_UTF8);
  if (parser == nullptr) return 1;
  htmlCtxtUseOptions(parser, HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                 HTML_PARSE_NONET | HTML_PARSE_NOIMPLIED | HTML_PARSE_COMPACT |
                                 HTML_PARSE_IGNORE_ENC);
  ssize_t got;
  while ((got = read(fd, piece, PIECE)) > 0)
    htmlParseChunk(parser, piece, static_cast<int>(got), 0);
  htmlParseChunk(parser, piece, 0, 1);
  htmlFreeParserCtxt(parser);
  close(fd);
  return got < 0;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: html_floor CONTENTS INDEX\n");
    return 2;
  }
  if (parse(argv[1]) != 0 || parse(argv[2]) != 0) return 1;
  printf("%ld\n", elements);
  return 0;
}
