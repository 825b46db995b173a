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
