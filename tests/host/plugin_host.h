// Loads the built plugin with dlopen and plays the file manager: resolves the exports,
// hands over callbacks that record what the plugin asks, and answers as a test says.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "vodarezazuv/fs_plugin.h"

namespace testsupport {

struct LogEntry {
    int32_t type;
    std::string text;
};

struct RequestEntry {
    int32_t type;
    std::string title, text;
    int32_t bufferSize;
};

struct CryptEntry {
    int32_t mode;
    std::string key, buffer;
    int32_t bufferSize;
};

class PluginHost {
  public:
    static constexpr int32_t kPluginNumber = 7;
    static constexpr int32_t kCryptoNumber = 3;

    PluginHost() {
        library_ = dlopen(PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (library_ == nullptr)
            ADD_FAILURE() << dlerror();
        current_ = this;
    }
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;
    ~PluginHost() {
        current_ = nullptr;
        if (library_ != nullptr)
            dlclose(library_);
    }

    template <typename Function>
    Function* Export(const char* name) const {
        void* symbol = library_ != nullptr ? dlsym(library_, name) : nullptr;
        if (symbol == nullptr)
            ADD_FAILURE() << "missing export " << name;
        return reinterpret_cast<Function*>(symbol);
    }

    // FsSetDefaultParams with the host's own settings file in directory dir.
    void SetDefaultParams(const std::string& hostIniPath) const {
        FsDefaultParams params{};
        params.size = sizeof params;
        params.versionLow = 3;
        params.versionHigh = 2;
        std::strncpy(params.settingsPath, hostIniPath.c_str(), sizeof params.settingsPath - 1);
        Export<decltype(FsSetDefaultParams)>("FsSetDefaultParams")(&params);
    }

    void Init() const {
        Export<decltype(FsInitW)>("FsInitW")(kPluginNumber, &Progress, &Log, &Request);
    }
    void SetCrypt(int32_t flags = 0) const {
        Export<decltype(FsSetCryptCallbackW)>("FsSetCryptCallbackW")(&Crypt, kCryptoNumber, flags);
    }

    // The names of a whole listing, and its records.
    std::vector<WIN32_FIND_DATAW> List(const std::u16string& path, int* error = nullptr) const {
        std::vector<WIN32_FIND_DATAW> records;
        WIN32_FIND_DATAW record;
        std::u16string mutablePath = path;
        errno = 0;
        void* handle = Export<decltype(FsFindFirstW)>("FsFindFirstW")(mutablePath.data(), &record);
        if (error != nullptr)
            *error = errno;
        if (handle == FS_INVALID_HANDLE)
            return records;
        auto next = Export<decltype(FsFindNextW)>("FsFindNextW");
        do {
            records.push_back(record);
        } while (next(handle, &record) != 0);
        EXPECT_EQ(next(handle, &record), 0) << "the end stays the end";
        EXPECT_EQ(Export<decltype(FsFindClose)>("FsFindClose")(handle), 0);
        return records;
    }
    std::string ListNames(const std::u16string& path) const {
        std::string names;
        for (const WIN32_FIND_DATAW& record : List(path)) {
            if (!names.empty())
                names += "|";
            names += U8(record.name);
        }
        return names;
    }

    // What the callbacks saw, and how they answer.
    std::vector<std::string> progress;  // "source>target:percent"
    std::vector<LogEntry> logs;
    std::vector<RequestEntry> requests;
    std::vector<CryptEntry> crypts;
    int32_t progressAnswer = 0;
    std::function<int32_t(const std::string& call)> onProgress;  // instead of progressAnswer
    std::function<int32_t(const RequestEntry&, char16_t* buffer)> onRequest;
    std::function<int32_t(const CryptEntry&, char16_t* buffer)> onCrypt;
    int32_t pluginNumberSeen = kPluginNumber;
    int32_t cryptoNumberSeen = kCryptoNumber;

  private:
    static std::string Text(const char16_t* text) { return text != nullptr ? U8(text) : "<none>"; }

    static int32_t Progress(int32_t number, char16_t* source, char16_t* target, int32_t percent) {
        current_->pluginNumberSeen = number;
        current_->progress.push_back(Text(source) + ">" + Text(target) + ":" +
                                     std::to_string(percent));
        if (current_->onProgress)
            return current_->onProgress(current_->progress.back());
        return current_->progressAnswer;
    }
    static void Log(int32_t number, int32_t type, char16_t* text) {
        current_->pluginNumberSeen = number;
        current_->logs.push_back({type, Text(text)});
    }
    static int32_t Request(int32_t number, int32_t type, char16_t* title, char16_t* text,
                           char16_t* buffer, int32_t size) {
        current_->pluginNumberSeen = number;
        current_->requests.push_back({type, Text(title), Text(text), size});
        return current_->onRequest ? current_->onRequest(current_->requests.back(), buffer) : 0;
    }
    static int32_t Crypt(int32_t number, int32_t cryptoNumber, int32_t mode, char16_t* key,
                         char16_t* buffer, int32_t size) {
        current_->pluginNumberSeen = number;
        current_->cryptoNumberSeen = cryptoNumber;
        current_->crypts.push_back({mode, Text(key), size == 0 ? Text(buffer) : "", size});
        return current_->onCrypt ? current_->onCrypt(current_->crypts.back(), buffer) : 1;
    }

    void* library_ = nullptr;
    static inline PluginHost* current_ = nullptr;
};

}  // namespace testsupport
