// What both fuzz targets do first: split the input in two files and convert them into a DCF in
// memory. The bytes before the first 0x01 byte are the contents file, the rest the index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "convert/converter.h"

struct FuzzRun {
  FuzzRun(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\x01');
    contents = input.substr(0, split);
    index = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
    sitemap::MemoryInput contents_stream(contents), index_stream(index);
    sitemap::ConversionFiles files{&contents_stream, &index_stream, &dcf};
    outcome = sitemap::convert_sitemap(files, report);
  }

  std::string_view contents;
  std::string_view index;
  sitemap::MemoryOutput dcf;
  sitemap::Report report;
  sitemap::Outcome outcome;
};
