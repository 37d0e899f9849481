// The reader of the catalogues built into the Windows binaries, against
// gettext's own tools over this build's catalogues.
#include "platform/message_catalogue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace tarvona::platform {
namespace {

const char* const kLanguages[] = {"de", "es", "et", "fr"};

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// "..." of a PO line, its escapes undone.
std::string Unquoted(const std::string& line) {
  std::string text;
  for (size_t i = line.find('"') + 1; i + 1 < line.size(); ++i) {
    if (line[i] == '\\') {
      ++i;
      text.push_back(line[i] == 'n' ? '\n' : line[i] == 't' ? '\t' : line[i]);
    } else {
      text.push_back(line[i]);
    }
  }
  return text;
}

// Every message of a compiled catalogue as gettext's msgunfmt reads it,
// the header left out.
std::map<std::string, std::string> Messages(const std::filesystem::path& catalogue) {
  std::map<std::string, std::string> messages;
  const std::string command = "msgunfmt --no-wrap '" + catalogue.string() + "'";
  std::FILE* out = popen(command.c_str(), "r");
  if (out == nullptr) return messages;
  std::string line;
  std::string english;
  for (int c; (c = std::fgetc(out)) != EOF;) {
    if (c != '\n') {
      line.push_back(static_cast<char>(c));
      continue;
    }
    if (line.starts_with("msgid ")) english = Unquoted(line);
    if (line.starts_with("msgstr ") && !english.empty()) messages[english] = Unquoted(line);
    line.clear();
  }
  pclose(out);
  return messages;
}

std::filesystem::path Catalogue(const char* language) {
  return std::filesystem::path(TARVONA_LOCALE_DIR) / language / "LC_MESSAGES/tarvona.mo";
}

TEST(MessageCatalogueTest, FindsWhatGettextFindsInEitherByteOrder) {
  const std::string big = std::filesystem::temp_directory_path() / "tarvona-catalogue-big.mo";
  for (const char* language : kLanguages) {
    SCOPED_TRACE(language);
    const auto messages = Messages(Catalogue(language));
    ASSERT_GT(messages.size(), 60u) << "msgunfmt read no catalogue";
    const std::string source = std::string(TARVONA_SOURCE_DIR) + "/po/" + language + ".po";
    ASSERT_EQ(std::system(("msgfmt --endianness=big -o '" + big + "' '" + source + "'").c_str()),
              0);
    for (const std::vector<uint8_t>& bytes : {ReadBytes(Catalogue(language)), ReadBytes(big)}) {
      const MessageCatalogue catalogue(bytes);
      for (const auto& [english, translation] : messages) {
        EXPECT_EQ(catalogue.Find(english), translation) << english;
      }
      EXPECT_EQ(catalogue.Find("No such message."), std::nullopt);
      EXPECT_EQ(catalogue.Find(""), std::nullopt);  // the header is no message
    }
  }
  std::filesystem::remove(big);
}

// Cut anywhere, a catalogue finds a message whole or not at all, and
// reads nothing past its bytes (the sanitizer build would see it).
TEST(MessageCatalogueTest, CutOrForeignBytesFindNothingAmiss) {
  const std::vector<uint8_t> whole = ReadBytes(Catalogue("de"));
  const auto messages = Messages(Catalogue("de"));
  ASSERT_FALSE(whole.empty());
  for (size_t size = 0; size < whole.size(); ++size) {
    const MessageCatalogue cut(std::span<const uint8_t>(whole).first(size));
    for (const auto& [english, translation] : messages) {
      const auto found = cut.Find(english);
      if (found) {
        EXPECT_EQ(*found, translation) << size;
      }
    }
  }
  const std::vector<uint8_t> foreign(64, 0xff);
  EXPECT_EQ(MessageCatalogue(foreign).Find("Wrong PIN."), std::nullopt);
}

}  // namespace
}  // namespace tarvona::platform
