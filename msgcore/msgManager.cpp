// The message catalogue: texts loaded once per process and tag, handles that cost a cache
// lookup to make, and posting as one line on standard error.
#include "msgcore/msgManager.h"

#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "msgcore/msgcore_internal.h"
#include "msgcore/placeholders.h"

namespace {

struct Catalogue {
  std::string tag;
  std::unordered_map<std::string, std::string> texts;
};

// One entry a line: four digits, a tab, the text. Comment lines begin with '#'; lines of
// any other shape are skipped rather than guessed at.
void parseCatalogue(std::string_view source, Catalogue& catalogue) {
  while (!source.empty()) {
    std::size_t end = source.find('\n');
    std::string_view line = source.substr(0, end);
    source = end == std::string_view::npos ? std::string_view() : source.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() < 5 || line[4] != '\t') continue;
    bool digits = true;
    for (int i = 0; i < 4; ++i) digits = digits && line[i] >= '0' && line[i] <= '9';
    if (!digits) continue;
    catalogue.texts.insert_or_assign(std::string(line.substr(0, 4)),
                                     std::string(line.substr(5)));
  }
}

// The arguments that `text` asks for, in order, each as "$$s" or "$$d".
std::string placeholders(std::string_view text) {
  std::string kinds;
  tapbroker::msgcore::scanPlaceholders(
      text, [](std::string_view) {}, [&](char kind) { (kinds += "$$") += kind; });
  return kinds;
}

// A site's text may replace a built-in one only if it asks for no other arguments than the
// built-in one, in the same order, or for fewer: the library passes exactly what its own
// texts ask for, and an expansion that takes more would read values that were never passed.
// Any other entry is refused, said once on standard error, and the built-in text stays.
void keepToBuiltinArguments(Catalogue& site, const std::string& path) {
  Catalogue builtin;
  parseCatalogue(tapbroker::msgcore::kBuiltinCatalogue, builtin);
  for (auto& [id, text] : site.texts) {
    auto own = builtin.texts.find(id);
    if (own == builtin.texts.end()) continue;
    const std::string asked = placeholders(text), passed = placeholders(own->second);
    if (std::string_view(passed).starts_with(asked)) continue;
    std::fprintf(stderr,
                 "%s: entry %s of %s refused: it asks for \"%s\" where the report passes "
                 "\"%s\"; the built-in text stays\n",
                 site.tag.c_str(), id.c_str(), path.c_str(), asked.c_str(), passed.c_str());
    text = own->second;
  }
}

std::shared_ptr<const Catalogue> loadCatalogue(std::string_view tag) {
  auto catalogue = std::make_shared<Catalogue>();
  catalogue->tag = tag;
  const char* directory = std::getenv("MSGCORE_PATH");
  if (directory != nullptr && *directory != '\0') {
    const std::string path = std::string(directory) + "/" + std::string(tag) + ".msg";
    std::ifstream file(path, std::ios::binary);
    if (file) {
      std::string source((std::istreambuf_iterator<char>(file)),
                         std::istreambuf_iterator<char>());
      parseCatalogue(source, *catalogue);
      if (tag == tapbroker::msgcore::kBuiltinCatalogueTag)
        keepToBuiltinArguments(*catalogue, path);
      return catalogue;
    }
  }
  if (tag == tapbroker::msgcore::kBuiltinCatalogueTag)
    parseCatalogue(tapbroker::msgcore::kBuiltinCatalogue, *catalogue);
  return catalogue;
}

// Process-wide and never destroyed, so that a handle outliving static destruction (a
// Client held in a global) can still be made. Handles share their catalogue, so one that a
// reload drops lives on for the handles made before.
struct CatalogueCache {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<const Catalogue>, std::less<>> byTag;
};

CatalogueCache& cache() {
  static CatalogueCache* instance = new CatalogueCache;
  return *instance;
}

std::shared_ptr<const Catalogue> catalogueFor(const char* tag) {
  std::string_view key = tag != nullptr ? tag : "";
  try {
    CatalogueCache& shared = cache();
    std::lock_guard<std::mutex> lock(shared.mutex);
    auto found = shared.byTag.find(key);
    if (found == shared.byTag.end()) {
      found = shared.byTag.emplace(std::string(key), loadCatalogue(key)).first;
    }
    return found->second;
  } catch (...) {
    // Out of memory while loading: the handle still works, with no texts.
    static const auto empty = std::make_shared<const Catalogue>();
    return empty;
  }
}

std::atomic<long> liveCount{0};
std::atomic<long> finishedCount{0};
std::atomic<int> failingAllocations{0};

bool takeFailingAllocation() {
  int pending = failingAllocations.load(std::memory_order_relaxed);
  while (pending > 0) {
    if (failingAllocations.compare_exchange_weak(pending, pending - 1)) return true;
  }
  return false;
}

}  // namespace

msgManager::msgManager(const char* tag) : catalogue_(catalogueFor(tag)) { ++liveCount; }

msgManager::~msgManager() { --liveCount; }

void* msgManager::operator new(std::size_t size) noexcept {
  return takeFailingAllocation() ? nullptr : std::malloc(size);
}

void msgManager::operator delete(void* block) noexcept { std::free(block); }

int msgManager::postMsgVaList(const char* id, va_list args, std::vector<std::string>&,
                              unsigned int) {
  const Catalogue& catalogue = *static_cast<const Catalogue*>(catalogue_.get());
  std::string key = id != nullptr ? id : "";
  std::string line = catalogue.tag + "[" + key + "]: ";
  auto entry = catalogue.texts.find(key);
  int result = 0;
  if (entry == catalogue.texts.end()) {
    line += "(no text for this message)";
    result = -1;
  } else {
    va_list copy;
    va_copy(copy, args);
    tapbroker::msgcore::expandPlaceholders(entry->second, copy, line);
    va_end(copy);
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  return result;
}

const char* msgManager::queryMsgString(std::string& id, std::string& text) {
  const Catalogue& catalogue = *static_cast<const Catalogue*>(catalogue_.get());
  auto entry = catalogue.texts.find(id);
  if (entry == catalogue.texts.end()) {
    text.clear();
  } else {
    text = entry->second;
  }
  return text.c_str();
}

void msgManager::finishMsgLogFile(unsigned int) { ++finishedCount; }

namespace tapbroker::msgcore {

long liveHandles() { return liveCount.load(); }
long finishedHandles() { return finishedCount.load(); }

void reloadCatalogues() {
  CatalogueCache& shared = cache();
  std::lock_guard<std::mutex> lock(shared.mutex);
  shared.byTag.clear();
}

namespace {

// The length of the well-formed UTF-8 sequence of two or more bytes that starts at `at`,
// with its code point; 0, and `codePoint` untouched, when the bytes there are no such
// sequence (a lone byte of 0x80 or more, a sequence cut short, an overlong form, a
// surrogate, past U+10FFFF). Stops at the first byte that does not fit, so it never reads
// past the string's NUL.
int decodeSequence(const unsigned char* at, char32_t& codePoint) {
  static const char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  const unsigned char lead = at[0];
  if (lead < 0xC2 || lead > 0xF4) return 0;
  const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  char32_t decoded = lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if ((at[i] & 0xC0) != 0x80) return 0;
    decoded = decoded << 6 | (at[i] & 0x3F);
  }
  if (decoded < kSmallest[length] || decoded > 0x10FFFF ||
      (decoded >= 0xD800 && decoded <= 0xDFFF))
    return 0;
  codePoint = decoded;
  return length;
}

// Code points that end a line or drive a terminal when shown: the C0 and C1 controls,
// DEL, and the line and paragraph separators.
bool isControl(char32_t codePoint) {
  return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F) || codePoint == 0x2028 ||
         codePoint == 0x2029;
}

// A text argument comes from the client's name, the broker's answers and the caller's data:
// its control characters are written escaped, so that it can neither end the line it
// stands in nor drive the terminal that shows it. Ordinary UTF-8 text stays as it is; a
// control is written as \n, \r, \t or byte by byte as \xNN, and so is every byte that is
// not part of well-formed UTF-8 (a lone 0x9B is a control to an 8-bit terminal, and an
// overlong form is a newline to a lax decoder).
void appendEscaped(const char* value, std::string& out) {
  static const char kHex[] = "0123456789ABCDEF";
  if (value == nullptr) return;
  int length = 1;
  for (auto at = reinterpret_cast<const unsigned char*>(value); *at != 0; at += length) {
    char32_t codePoint = *at;
    length = codePoint < 0x80 ? 1 : decodeSequence(at, codePoint);
    const bool lone = length == 0;
    if (lone) length = 1;
    if (codePoint == '\n' || codePoint == '\r' || codePoint == '\t') {
      (out += '\\') += codePoint == '\n' ? 'n' : codePoint == '\r' ? 'r' : 't';
    } else if (lone || isControl(codePoint)) {
      for (int i = 0; i < length; ++i)
        ((out += "\\x") += kHex[at[i] >> 4]) += kHex[at[i] & 0xF];
    } else {
      out.append(reinterpret_cast<const char*>(at), length);
    }
  }
}

}  // namespace

void expandPlaceholders(std::string_view text, va_list args, std::string& out) {
  msgcore::scanPlaceholders(
      text, [&](std::string_view plain) { out += plain; },
      [&](char kind) {
        if (kind == 's') {
          appendEscaped(va_arg(args, const char*), out);
          return;
        }
        // Room for "-2147483648" and more: to_chars writes no NUL and cannot overrun.
        char digits[16];
        auto written = std::to_chars(digits, digits + sizeof digits, va_arg(args, int));
        out.append(digits, written.ptr);
      });
}

void failNextAllocations(int count) { failingAllocations.store(count > 0 ? count : 0); }

}  // namespace tapbroker::msgcore
