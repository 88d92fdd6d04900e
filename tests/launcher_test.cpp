// The launcher (bin/vornisk, packaging/vornisk.sh.in) in a prefix of its own,
// with a stand-in for the show that prints its working directory and arguments:
// which data folder it picks, its options, and a missing installed data folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace vornisk {
namespace {

namespace fs = std::filesystem;

struct Case {
  std::vector<std::string> arguments;
  bool ownMusic = false;      // the working folder holds music._vq
  bool dataInstalled = true;  // share/vornisk exists
  int status = 0;
  std::string out;  // "DATA" and "HERE" stand for the two folders
  std::string err = "";
};

TEST(Launcher, PicksTheDataFolderAndAnswersItsOptions) {
  const std::string prefix = testing::makeTempDirectory();
  fs::create_directories(prefix + "/bin");
  fs::create_directories(prefix + "/libexec/vornisk");
  fs::copy_file(VORNISK_LAUNCHER, prefix + "/bin/vornisk");
  fs::permissions(prefix + "/bin/vornisk", fs::perms::owner_all);
  const std::string show = prefix + "/libexec/vornisk/vornisk";
  testing::writeFile(
      show, testing::Bytes{'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n', 'e', 'c', 'h',
                           'o', ' ', '"', '$', 'P', 'W', 'D', ' ', '$', '*',  '"', '\n'});
  fs::permissions(show, fs::perms::owner_all);
  const std::string data = prefix + "/share/vornisk";
  const std::string usage = "Usage: vornisk [--help | --version]\n";
  const Case cases[] = {
      {{}, false, true, 0, "DATA \n"},
      {{"extra"}, false, true, 0, "DATA extra\n"},
      {{}, true, true, 0, "HERE \n"},
      {{}, true, false, 0, "HERE \n"},
      {{},
       false,
       false,
       1,
       "",
       "vornisk: the default data folder " + data +
           " is missing; reinstall vornisk, or start it in a folder holding title._vq, "
           "title2._vq and music._vq\n"},
      {{"--version"}, false, true, 0, "vornisk " VORNISK_VERSION "\n"},
      {{"--help"}, false, false, 0, usage},
      {{"-x"}, false, true, 2, "", "vornisk: unknown option '-x' (try --help)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((c.arguments.empty() ? "no option" : c.arguments[0]) +
                 (c.ownMusic ? ", own music" : "") + (c.dataInstalled ? "" : ", no data"));
    const std::string here = testing::makeTempDirectory();
    if (c.ownMusic) testing::writeFile(here + "/music._vq", {1});
    if (c.dataInstalled) fs::create_directories(data);
    std::vector<std::string> argv = {prefix + "/bin/vornisk"};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    testing::Child launcher(argv, {}, here);
    EXPECT_EQ(launcher.wait(), c.status);
    std::string out = c.out;
    for (const auto& [name, folder] : {std::pair{"DATA", data}, {"HERE", here}}) {
      if (out.rfind(name, 0) == 0) out.replace(0, 4, folder);
    }
    if (c.out == usage) {
      EXPECT_EQ(launcher.out().substr(0, usage.size()), usage);
      EXPECT_NE(launcher.out().find("--version  show the version"), std::string::npos);
    } else {
      EXPECT_EQ(launcher.out(), out);
    }
    EXPECT_EQ(launcher.err(), c.err);
    fs::remove_all(data);
    fs::remove_all(here);
  }
  fs::remove_all(prefix);
}

}  // namespace
}  // namespace vornisk
