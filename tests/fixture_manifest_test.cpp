// Every peer-made fixture listed in tests/fixtures/<area>/manifest.tsv is
// extracted by the real program and must give exactly the listed files.
// A line: archive (relative to tests/fixtures) TAB exit status TAB output
// path ('/'-separated, relative to the destination) TAB size TAB SHA-256.
// An archive that writes nothing has one line with "-" as path, size, hash
// (a file named "-" has a size).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/test_support.h"

namespace {

struct ManifestEntry {
    std::string archive;
    int exitStatus = 0;
    std::map<std::string, std::pair<long long, std::string>> files;  // path -> size, hash
};

void PrintTo(const ManifestEntry& entry, std::ostream* out) { *out << entry.archive; }

std::vector<ManifestEntry> readManifests() {
    std::vector<ManifestEntry> entries;
    std::vector<std::string> areas;
    for (const auto& entry : std::filesystem::directory_iterator(TOVRIN_FIXTURES_DIR)) areas.push_back(entry.path().filename());
    std::sort(areas.begin(), areas.end());
    for (const std::string& area : areas) {
        std::ifstream in(testing_support::fixturePath(area + "/manifest.tsv"));
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') continue;
            std::vector<std::string> fields;
            std::stringstream parts(line);
            std::string field;
            while (std::getline(parts, field, '\t')) fields.push_back(field);
            if (fields.size() != 5) {
                ADD_FAILURE() << area << "/manifest.tsv: malformed line: " << line;
                continue;
            }
            if (entries.empty() || entries.back().archive != fields[0]) {
                entries.push_back({fields[0], std::stoi(fields[1]), {}});
            }
            if (fields[3] != "-") entries.back().files[fields[2]] = {std::stoll(fields[3]), fields[4]};
        }
    }
    return entries;
}

std::string sha256Of(const std::string& path) {
    std::string quoted;
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    std::string digest;
    if (FILE* pipe = popen(("sha256sum < '" + quoted + "'").c_str(), "r")) {
        char buffer[128];
        if (std::fgets(buffer, sizeof buffer, pipe)) digest.assign(buffer, std::min<std::size_t>(64, std::strlen(buffer)));
        pclose(pipe);
    }
    return digest;
}

class FixtureManifest : public testing_support::DeviceSandbox,
                        public ::testing::WithParamInterface<ManifestEntry> {};

TEST_P(FixtureManifest, ExtractsExactlyTheListedFiles) {
    const ManifestEntry& expected = GetParam();
    testing_support::makeDirectories(host("\\in"));
    const std::string name = expected.archive.substr(expected.archive.rfind('/') + 1);
    testing_support::writeFile(host("\\in\\" + name),
                               testing_support::readFile(testing_support::fixturePath(expected.archive)));
    const testing_support::ProgramRun run = testing_support::runProgram({"#F(\\in\\" + name + ")#P(\\out)"});
    EXPECT_EQ(run.exitStatus, expected.exitStatus) << run.err;
    std::map<std::string, std::pair<long long, std::string>> found;
    for (const std::string& file : testing_support::listFiles(host("\\out"))) {
        const std::string path = host("\\out") + "/" + file;
        found[file] = {static_cast<long long>(std::filesystem::file_size(path)), sha256Of(path)};
    }
    EXPECT_EQ(found, expected.files);
}

std::string testName(const ::testing::TestParamInfo<ManifestEntry>& info) {
    std::string name;
    for (char c : info.param.archive) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(PeerArchives, FixtureManifest, ::testing::ValuesIn(readManifests()), testName);

}  // namespace
