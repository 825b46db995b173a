// The host's side of the transport's tests: records log lines and progress calls, answers
// progress with abort from a chosen call on, and lends its password store.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "plugin/plugin_state.h"
#include "temp_dir.h"

namespace vodarezazuv::testing_http {

struct HostRecorder {
    struct Log {
        int32_t type;
        std::string text;
    };
    struct Progress {
        std::string source, target;
        int32_t percent;
    };
    static inline std::vector<Log> logs;
    static inline std::vector<Progress> progress;
    static inline int abortFromCall = 0;  // 1-based number of the first call answered abort
    static inline std::map<std::string, std::string> store;  // the host's password store

    static void Log(int32_t, int32_t type, char16_t* text) {
        logs.push_back({type, testsupport::U8(text)});
    }
    static int32_t Report(int32_t, char16_t* source, char16_t* target, int32_t percent) {
        progress.push_back({source != nullptr ? testsupport::U8(source) : "<none>",
                            target != nullptr ? testsupport::U8(target) : "<none>", percent});
        return abortFromCall != 0 && static_cast<int>(progress.size()) >= abortFromCall ? 1 : 0;
    }
    static int32_t Crypt(int32_t, int32_t, int32_t mode, char16_t* key, char16_t* buffer,
                         int32_t size) {
        auto found = store.find(testsupport::U8(key));
        if (mode != StoreLoad || found == store.end())
            return 1;
        std::u16string value = testsupport::U16(found->second);
        value.resize(std::min<size_t>(value.size(), size - 1));
        value.copy(buffer, value.size());
        buffer[value.size()] = 0;
        return 0;
    }

    // Installs the recorder as the host, empty; the destructor restores the plugin state.
    HostRecorder() {
        logs.clear();
        progress.clear();
        abortFromCall = 0;
        store.clear();
        Plugin().hostLog = &Log;
        Plugin().hostProgress = &Report;
        Plugin().hostCrypt = nullptr;
        Plugin().lastProgressTick = 0;
    }
    ~HostRecorder() { Plugin() = saved; }

    static std::vector<std::string> Lines(int32_t type = LogTypeDetail) {
        std::vector<std::string> lines;
        for (const auto& entry : logs) {
            if (entry.type == type)
                lines.push_back(entry.text);
        }
        return lines;
    }

    PluginState saved = Plugin();
};

}  // namespace vodarezazuv::testing_http
