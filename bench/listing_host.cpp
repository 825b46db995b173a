// A minimal host for the listing benchmark: loads the plugin as the file manager does,
// lists one collection of a connection a number of times and prints the median time per
// listing, the entries and the memory the listing took at its peak (resident set above what
// the process held before it).
//
//   listing_host PLUGIN SETTINGS_DIR CONNECTION COLLECTION ITERATIONS
#include <dlfcn.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "vodarezazuv/fs_plugin.h"

namespace {

std::u16string Widen(const std::string& text) {
    return std::u16string(text.begin(), text.end());  // ASCII arguments
}

long StatusKb(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::strlen(key));
    }
    return -1;
}

// Sets the peak resident set back to the current one.
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

int32_t Progress(int32_t, char16_t*, char16_t*, int32_t) {
    return 0;
}
void Log(int32_t, int32_t, char16_t*) {}
int32_t Request(int32_t, int32_t, char16_t*, char16_t*, char16_t*, int32_t) {
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s PLUGIN SETTINGS_DIR CONNECTION COLLECTION ITERATIONS\n",
                     argv[0]);
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto init = reinterpret_cast<decltype(FsInitW)*>(dlsym(library, "FsInitW"));
    auto params =
        reinterpret_cast<decltype(FsSetDefaultParams)*>(dlsym(library, "FsSetDefaultParams"));
    auto first = reinterpret_cast<decltype(FsFindFirstW)*>(dlsym(library, "FsFindFirstW"));
    auto next = reinterpret_cast<decltype(FsFindNextW)*>(dlsym(library, "FsFindNextW"));
    auto close = reinterpret_cast<decltype(FsFindClose)*>(dlsym(library, "FsFindClose"));
    auto disconnect = reinterpret_cast<decltype(FsDisconnectW)*>(dlsym(library, "FsDisconnectW"));
    init(1, &Progress, &Log, &Request);
    FsDefaultParams defaults{};
    defaults.size = sizeof defaults;
    std::string hostIni = std::string(argv[2]) + "/morlo.ini";
    std::strncpy(defaults.settingsPath, hostIni.c_str(), sizeof defaults.settingsPath - 1);
    params(&defaults);

    std::u16string connectionPath = u"\\" + Widen(argv[3]);
    std::u16string path = connectionPath + u"\\" + Widen(argv[4]);
    int iterations = std::atoi(argv[5]);
    auto list = [&](long* entries) {
        WIN32_FIND_DATAW record;
        std::u16string mutablePath = path;
        void* handle = first(mutablePath.data(), &record);
        *entries = 0;
        if (handle == FS_INVALID_HANDLE)
            return false;
        do
            ++*entries;
        while (next(handle, &record) != 0);
        close(handle);
        return true;
    };
    long entries = 0;
    if (!list(&entries)) {  // opens the connection; not timed
        std::fprintf(stderr, "the listing failed\n");
        return 1;
    }
    std::vector<double> seconds;
    long peakKb = 0;
    for (int i = 0; i < iterations; ++i) {
        // What the last listing freed goes back to the system first, so that the peak above
        // this point is what this listing holds.
        malloc_trim(0);
        long before = StatusKb("VmRSS:");
        ResetPeak();
        auto start = std::chrono::steady_clock::now();
        list(&entries);
        seconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        peakKb = std::max(peakKb, StatusKb("VmHWM:") - before);
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("entries %ld median_s %.6f peak_kb %ld\n", entries, seconds[seconds.size() / 2],
                peakKb);
    std::u16string mutableConnection = connectionPath;
    disconnect(mutableConnection.data());
    dlclose(library);
    return 0;
}
