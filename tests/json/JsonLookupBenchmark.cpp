// One lookup's JSON work: two documents, a configuration reply and an answer
// reply of about 2 KB each parsed, four members read, both destroyed. Prints
// the median over 100 runs and the share of it spent creating engines.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "json/JsonDocument.h"

namespace {

AnsiText Padding(const char* name, size_t bytes)
{
    AnsiText pad = ",\"";
    pad.append(name).append("\":[");
    for (int i = 0; pad.size() < bytes; ++i) {
        if (i)
            pad.append(",");
        pad.append("{\"id\":").append(std::to_string(i)).append(",\"v\":\"\xB4\xF0\xB0\xB8 item\"}");
    }
    pad.append("]");
    return pad;
}

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency)
{
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main()
{
    CoInitialize(nullptr);
    const AnsiText config =
        "{\"title\":\"\xCD\xA8\xD6\xAA: service notice\",\"api\":\"http://127.0.0.1/q?t=[q]&k=[k]\","
        "\"log\":\"rejected\"" +
        Padding("extra", 2000) + "}";
    const AnsiText answer =
        "{\"answer\":\"\xB4\xF0\xB0\xB8 A\",\"title\":\"question title\"" + Padding("related", 2000) + "}";
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);

    const int runs = 100;
    std::vector<double> lookups;
    std::vector<double> engines;
    size_t checksum = 0;
    for (int run = 0; run < runs; ++run) {
        LARGE_INTEGER t0, t1, t2;
        QueryPerformanceCounter(&t0);
        {
            JsonDocument configDoc;
            JsonDocument answerDoc;
            configDoc.Parse(config);
            answerDoc.Parse(answer);
            checksum += configDoc.GetText("title").size() + configDoc.GetText("api").size();
            checksum += answerDoc.GetText("answer").size() + answerDoc.GetText("title").size();
        }
        QueryPerformanceCounter(&t1);
        // An engine as a lookup makes it four times: created, confined, script loaded.
        {
            JsonDocument alone;
        }
        QueryPerformanceCounter(&t2);
        lookups.push_back(Milliseconds(t0, t1, frequency));
        engines.push_back(Milliseconds(t1, t2, frequency));
    }
    double lookup = Median(lookups);
    double engine = Median(engines);
    std::printf("replies: config %zu bytes, answer %zu bytes; %d runs (checksum %zu)\n", config.size(), answer.size(),
                runs, checksum);
    std::printf("lookup JSON work, median: %.3f ms\n", lookup);
    std::printf("one engine (create + support script), median: %.3f ms\n", engine);
    std::printf("share spent creating the four engines: %.0f%%\n", 100.0 * 4 * engine / lookup);
    CoUninitialize();
    return 0;
}
