// A site's catalogue (MSGCORE_PATH) made of the fuzzer's input, whatever its lines say,
// and every report of the library made with exactly the arguments the library passes for
// it (those its own texts ask for). Neither reading the catalogue nor expanding any of its
// texts may read a value that was not passed, or past any buffer.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "msgcore/msgcore_internal.h"
#include "tapbroker_client.h"

namespace {

std::string directory;
// Every identifier of the library's own catalogue, with the arguments its text asks for.
std::vector<std::pair<std::string, std::string>> reports;

std::string argumentsOf(const std::string& text) {
  std::string kinds;
  for (std::size_t i = 0; i < text.size();) {
    if (i + 2 < text.size() && text[i] == '$' && text[i + 1] == '$' &&
        (text[i + 2] == 's' || text[i + 2] == 'd')) {
      kinds += text[i + 2];
      i += 3;
    } else {
      ++i;
    }
  }
  return kinds;
}

void report(Client& client, const std::string& id, const std::string& kinds) {
  const char* name = "fuzz";
  if (kinds.empty())
    client.PrintMessage(id);
  else if (kinds == "s")
    client.PrintMessage(id, name);
  else if (kinds == "ss")
    client.PrintMessage(id, name, "text");
  else if (kinds == "sd")
    client.PrintMessage(id, name, -7);
  else if (kinds == "sds")
    client.PrintMessage(id, name, 10061, name);
  else if (kinds == "ssss")
    client.PrintMessage(id, name, "one", name, "two");
  else
    std::abort();  // a shape the library's catalogue has gained: teach it here
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = (std::filesystem::temp_directory_path() / "site-fuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  directory = pattern;
  std::istringstream builtin(tapbroker::msgcore::kBuiltinCatalogue);
  for (std::string line; std::getline(builtin, line);) {
    if (line.size() > 5 && line[0] != '#' && line[4] == '\t')
      reports.emplace_back(line.substr(0, 4), argumentsOf(line.substr(5)));
  }
  ::setenv("MSGCORE_PATH", directory.c_str(), 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (std::FILE* file = std::fopen((directory + "/tapbrokerclient.msg").c_str(), "wb")) {
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  }
  tapbroker::msgcore::reloadCatalogues();
  // Reading the catalogue says which entries it refuses; keep that off the fuzzer's output.
  const int saved = ::dup(2);
  const int quiet = ::open("/dev/null", O_WRONLY);
  ::dup2(quiet, 2);
  char name[] = "fuzz";
  Client client(name);
  ::dup2(saved, 2);
  ::close(saved);
  ::close(quiet);

  if (client.Set_Log_File("/dev/null") != 0) std::abort();
  for (const auto& [id, kinds] : reports) report(client, id, kinds);
  return 0;
}
