// Builds the compiled-in string table from the translations, at build time:
// res/po/qorv-setup.pot holds every key (msgctxt) with its English text
// (msgid), and res/po/<code>.po each other language's texts (msgstr), as
// gettext's tools and translators' editors read and write them. Nothing is
// read from disk when the installer runs.
//
//   po_table OUT.cc POT en:NUMBER CODE:NUMBER:PO ...   writes the table
//   po_table --check POT CODE:NUMBER:PO ...            only reports
//
// Every language must have every key, translated and not marked fuzzy:
// the installer has no fallback from one language to another. Each problem
// is reported as FILE:LINE: what; then the exit status is 1 and, when
// building, nothing is written.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Message {
  std::string context;
  std::string id;
  std::string text;
  bool fuzzy = false;
  int line = 0;
};

struct Catalog {
  std::string path;
  std::vector<Message> messages;
};

int problems = 0;

void Problem(const std::string& path, int line, const std::string& what) {
  std::fprintf(stderr, "%s:%d: %s\n", path.c_str(), line, what.c_str());
  ++problems;
}

// The text of a quoted PO string, escapes resolved; false when it is not one.
bool Unquote(const std::string& quoted, std::string* out) {
  size_t begin = quoted.find('"');
  size_t end = quoted.rfind('"');
  if (begin == std::string::npos || end == begin) return false;
  for (size_t i = begin + 1; i < end; ++i) {
    char c = quoted[i];
    if (c != '\\') {
      out->push_back(c);
      continue;
    }
    if (++i == end) return false;
    switch (quoted[i]) {
      case 'n':
        out->push_back('\n');
        break;
      case 't':
        out->push_back('\t');
        break;
      case 'r':
        out->push_back('\r');
        break;
      case '"':
        out->push_back('"');
        break;
      case '\\':
        out->push_back('\\');
        break;
      default:
        return false;
    }
  }
  return true;
}

bool Read(const std::string& path, Catalog* catalog) {
  std::ifstream in(path);
  if (!in) {
    Problem(path, 0, "cannot be read");
    return false;
  }
  catalog->path = path;
  Message current;
  std::string* field = nullptr;
  bool fuzzy = false;
  bool any = false;
  auto finish = [&] {
    if (any) {
      current.fuzzy = fuzzy;
      catalog->messages.push_back(current);
    }
    current = Message();
    field = nullptr;
    fuzzy = false;
    any = false;
  };
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("#,", 0) == 0) {
      if (any) finish();
      fuzzy = fuzzy || line.find("fuzzy") != std::string::npos;
      continue;
    }
    if (line.empty() || line[0] == '#') {
      if (line.empty() && any) finish();
      continue;
    }
    std::string keyword = line.substr(0, line.find(' '));
    std::string value;
    if (line[0] == '"') {
      if (field == nullptr || !Unquote(line, field)) Problem(path, number, "a stray string");
      continue;
    }
    // A keyword that cannot belong to the message being read starts the
    // next one (entries are normally apart by a blank line).
    const bool next = keyword == "msgctxt" ||
                      (keyword == "msgid" && (!current.id.empty() || field == &current.text));
    if (next && any) finish();
    if (!Unquote(line.substr(keyword.size()), &value)) {
      Problem(path, number, "expected " + keyword + " \"...\"");
      continue;
    }
    if (!any) current.line = number;
    any = true;
    if (keyword == "msgctxt") {
      current.context = value;
      field = &current.context;
    } else if (keyword == "msgid") {
      current.id = value;
      field = &current.id;
    } else if (keyword == "msgstr") {
      current.text = value;
      field = &current.text;
    } else {
      Problem(path, number, "unknown keyword " + keyword);
    }
  }
  finish();
  return true;
}

std::string CString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\%03o", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

struct Language {
  std::string code;
  int number = 0;
  std::vector<std::string> texts;  // in the template's key order
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const bool check = !args.empty() && args[0] == "--check";
  if (check) args.erase(args.begin());
  std::string out;
  if (!check && !args.empty()) {
    out = args[0];
    args.erase(args.begin());
  }
  if (args.size() < 2) {
    std::fputs("usage: po_table [--check] [OUT.cc] POT CODE:NUMBER[:PO]...\n", stderr);
    return 2;
  }
  Catalog pot;
  if (!Read(args[0], &pot)) return 1;
  std::vector<std::string> keys;
  std::map<std::string, const Message*> english;
  for (const Message& m : pot.messages) {
    if (m.context.empty() && m.id.empty()) continue;  // the header
    if (m.context.empty()) Problem(pot.path, m.line, "a text without a key (msgctxt)");
    if (!english.emplace(m.context, &m).second) Problem(pot.path, m.line, m.context + " twice");
    keys.push_back(m.context);
  }
  std::vector<Language> languages;
  for (size_t i = 1; i < args.size(); ++i) {
    std::istringstream given(args[i]);
    Language language;
    std::string number;
    std::string path;
    std::getline(given, language.code, ':');
    std::getline(given, number, ':');
    std::getline(given, path);
    language.number = std::atoi(number.c_str());
    if (path.empty()) {  // English: the template's own texts
      for (const std::string& key : keys) language.texts.push_back(english[key]->id);
      languages.push_back(language);
      continue;
    }
    Catalog po;
    if (!Read(path, &po)) continue;
    std::map<std::string, const Message*> found;
    for (const Message& m : po.messages) {
      if (m.context.empty() && m.id.empty()) continue;
      if (english.count(m.context) == 0) {
        Problem(path, m.line, m.context + ": no such key in " + pot.path);
      } else if (!found.emplace(m.context, &m).second) {
        Problem(path, m.line, m.context + " twice");
      } else if (m.id != english[m.context]->id) {
        Problem(path, m.line, m.context + ": its English text is not the template's (merge it)");
      } else if (m.fuzzy) {
        Problem(path, m.line, m.context + ": marked fuzzy");
      } else if (m.text.empty()) {
        Problem(path, m.line, m.context + ": not translated");
      }
    }
    for (const std::string& key : keys) {
      auto it = found.find(key);
      if (it == found.end()) {
        Problem(path, 0, key + ": missing");
        language.texts.push_back("");
      } else {
        language.texts.push_back(it->second->text);
      }
    }
    languages.push_back(language);
  }
  if (problems != 0) {
    std::fprintf(stderr, "%d problem(s) in the translations\n", problems);
    return 1;
  }
  if (check) return 0;

  std::string code =
      "// Made by res/po_table.cc from res/po/ at build time; edit the .po files.\n"
      "#include \"res/language_texts.h\"\n\n"
      "namespace qorv::res {\n\n"
      "static_assert(kTextCount == " +
      std::to_string(keys.size()) + ", \"res/po/qorv-setup.pot and kTextCount disagree\");\n\n";
  for (const Language& language : languages) {
    code += "constinit const LanguageTexts kTexts_" + language.code + " = {\n    " +
            std::to_string(language.number) + ",\n    " + CString(language.code) + ",\n    {{\n";
    for (size_t k = 0; k < keys.size(); ++k) {
      code += "        {" + CString(keys[k]) + ", " + CString(language.texts[k]) + "},\n";
    }
    code += "    }},\n};\n\n";
  }
  code += "}  // namespace qorv::res\n";
  std::ofstream file(out, std::ios::binary);
  file << code;
  if (!file.flush()) {
    std::fprintf(stderr, "%s: cannot be written\n", out.c_str());
    return 1;
  }
  return 0;
}
