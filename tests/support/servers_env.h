// The keys of the test servers' env file (scripts/servers/start.sh), which the ctest fixture
// "servers" names in VODAREZAZUV_SERVERS_ENV. Empty when the variable is not set.
#pragma once

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

namespace testsupport {

inline std::map<std::string, std::string> ServersEnv() {
    std::map<std::string, std::string> values;
    const char* path = std::getenv("VODAREZAZUV_SERVERS_ENV");
    if (path == nullptr)
        return values;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        size_t equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

// The lines of a log file from byte offset on (0: all), for what a test itself caused.
inline std::string FileTail(const std::string& path, std::streamoff offset) {
    std::ifstream file(path, std::ios::binary);
    file.seekg(offset);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

inline std::streamoff FileSize(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    return file ? static_cast<std::streamoff>(file.tellg()) : 0;
}

}  // namespace testsupport

#include <sys/stat.h>

#include <ctime>
#include <set>

namespace testsupport {

// The names of a set (directories with a trailing "/") that the server's seed made in folder
// relative of the DAV root: those whose time on disk is the seed's. Tests running at the
// same time make folders of their own beside them, which this leaves out.
inline std::set<std::string> SeededNames(const std::set<std::string>& names,
                                         std::map<std::string, std::string>& env,
                                         const std::string& relative = "") {
    struct tm seed {};
    strptime(env["SEED_MTIME"].c_str(), "%Y-%m-%dT%H:%M:%SZ", &seed);
    time_t seedTime = timegm(&seed);
    std::set<std::string> seeded;
    for (const std::string& name : names) {
        std::string bare =
            !name.empty() && name.back() == '/' ? name.substr(0, name.size() - 1) : name;
        struct stat status {};
        std::string path = env["DAV_ROOT"] + "/" + relative + (relative.empty() ? "" : "/") + bare;
        if (lstat(path.c_str(), &status) == 0 && status.st_mtime == seedTime)
            seeded.insert(name);
    }
    return seeded;
}

}  // namespace testsupport
