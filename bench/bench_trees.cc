#include "bench/bench_trees.h"

#include <cstdio>
#include <filesystem>
#include <random>

#include "base/text_convert.h"

namespace qorv::bench {

namespace {

// Text-like bytes: words from a small vocabulary, lines of varying length.
std::string TextLike(std::mt19937& rng, size_t size) {
  static const char* const kWords[] = {
      "Процедура", "Функция", "КонецПроцедуры", "Если",  "Тогда",  "Возврат", "document",
      "register",  "catalog", "attribute",      "value", "Number", "Date",    "string",
      "Query",     "Select",  "From",           "Where", "  ",     "\t",      "=",
  };
  std::string out;
  out.reserve(size + 32);
  while (out.size() < size) {
    out += kWords[rng() % (sizeof(kWords) / sizeof(kWords[0]))];
    out += (rng() % 9 == 0) ? '\n' : ' ';
  }
  out.resize(size);
  return out;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

}  // namespace

KitContent MakeTree(const std::string& root, size_t files, size_t fileSize) {
  std::mt19937 rng(42);
  KitContent content;
  for (size_t i = 0; i < files; ++i) {
    std::string relative = "d" + std::to_string(i / 100) + "/f" + std::to_string(i) + ".txt";
    std::string path = root + "/" + relative;
    if (!std::filesystem::exists(path) || std::filesystem::file_size(path) != fileSize) {
      WriteBytes(path, TextLike(rng, fileSize));
    }
    KitSourceFile file;
    file.name = Wide(relative);
    replaceAll(file.name, WideString(u"/"), WideString(u"\\"));
    file.diskPath = path;
    file.size = fileSize;
    file.time = FileTimeFromUnix(1600000000);
    content.files.push_back(file);
  }
  return content;
}

void EnsureKit(const KitContent& content, const std::string& kitPath) {
  if (std::filesystem::exists(kitPath)) return;
  std::string error;
  if (!WriteKit(content, kitPath, &error)) std::fprintf(stderr, "pack failed: %s\n", error.c_str());
}

}  // namespace qorv::bench
