// Parses generated PROPFIND answers shaped like those of Apache httpd's mod_dav_fs (Depth 1,
// allprop) and reports the time and the peak heap per response. Parsing should be linear in
// the body: the time per response stays flat from 1,000 to 100,000 responses.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "counting_allocator.h"
#include "xml/body_buffer.h"
#include "xml/multistatus.h"

namespace {

using namespace vodarezazuv;

// One file entry as Apache sends it, with its href, sizes and dates varied by the index.
std::string ApacheResponse(int index) {
    char entry[2048];
    std::snprintf(entry, sizeof entry,
                  "<D:response xmlns:lp2=\"http://apache.org/dav/props/\" xmlns:lp1=\"DAV:\">\n"
                  "<D:href>/dav/Ordner%%20mit%%20%%c3%%9cmlaut/datei%%20%06d.txt</D:href>\n"
                  "<D:propstat>\n<D:prop>\n<lp1:resourcetype/>\n"
                  "<lp1:creationdate>2026-12-11T13:%02d:%02dZ</lp1:creationdate>\n"
                  "<lp1:getcontentlength>%d</lp1:getcontentlength>\n"
                  "<lp1:getlastmodified>Fri, 11 Dec 2026 13:%02d:%02d GMT</lp1:getlastmodified>\n"
                  "<lp1:getetag>\"%x-6625be4b7ecbe\"</lp1:getetag>\n"
                  "<lp2:executable>F</lp2:executable>\n"
                  "<D:supportedlock>\n"
                  "<D:lockentry>\n<D:lockscope><D:exclusive/></D:lockscope>\n"
                  "<D:locktype><D:write/></D:locktype>\n</D:lockentry>\n"
                  "<D:lockentry>\n<D:lockscope><D:shared/></D:lockscope>\n"
                  "<D:locktype><D:write/></D:locktype>\n</D:lockentry>\n"
                  "</D:supportedlock>\n<D:lockdiscovery/>\n"
                  "<D:getcontenttype>text/plain</D:getcontenttype>\n"
                  "</D:prop>\n<D:status>HTTP/1.1 200 OK</D:status>\n</D:propstat>\n</D:response>\n",
                  index, index / 60 % 60, index % 60, index * 37, index / 60 % 60, index % 60,
                  index * 37);
    return entry;
}

std::string ApacheListing(int responses) {
    std::string body =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<D:multistatus xmlns:D=\"DAV:\">\n";
    for (int i = 0; i < responses; ++i)
        body += ApacheResponse(i);
    return body + "</D:multistatus>\n";
}

BodyBufferPtr BufferOf(const std::string& body) {
    BodyBuffer* buffer = nullptr;
    CreateBodyBuffer(&buffer);
    BodyBufferPtr held(buffer);
    buffer->Append(buffer, body.data(), static_cast<int32_t>(body.size()));
    return held;
}

void ParseApacheListing(benchmark::State& state) {
    const int responses = static_cast<int>(state.range(0));
    std::string body = ApacheListing(responses);
    BodyBufferPtr buffer = BufferOf(body);
    size_t peak = 0, retained = 0;
    for (auto _ : state) {
        size_t before = bench::Counts().live;
        bench::ResetPeak();
        Multistatus* multistatus = nullptr;
        if (ParseMultistatus(&multistatus, buffer.get()) != 0) {
            state.SkipWithError("the generated body did not parse");
            break;
        }
        peak = bench::Counts().peak - before;
        retained = bench::Counts().live - before;
        FreeMultistatus(&multistatus);
    }
    state.SetComplexityN(responses);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(body.size()));
    state.counters["time/response"] = benchmark::Counter(
        responses, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["body B/response"] = static_cast<double>(body.size()) / responses;
    state.counters["peak B/response"] = static_cast<double>(peak) / responses;
    state.counters["kept B/response"] = static_cast<double>(retained) / responses;
}
BENCHMARK(ParseApacheListing)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

// One element whose text arrives in a run per entity reference: its cost must grow with the
// number of runs, not with its square.
void ParseTextOfManyRuns(benchmark::State& state) {
    std::string body = "<a>";
    for (int64_t i = 0; i < state.range(0); ++i)
        body += "x&amp;";
    body += "</a>";
    BodyBufferPtr buffer = BufferOf(body);
    for (auto _ : state) {
        Multistatus* multistatus = nullptr;
        ParseMultistatus(&multistatus, buffer.get());
        FreeMultistatus(&multistatus);
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(ParseTextOfManyRuns)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace

BENCHMARK_MAIN();
