#include "tests/support/TestAnswerService.h"

#include <windows.h>

#include <cstring>
#include <fstream>

#include "ServiceBaseUrl.h"
#include "tests/support/AppDriver.h"
#include "tests/support/ScratchDirectory.h"

TestAnswerService::TestAnswerService()
{
    RestoreDefaults();
}

void TestAnswerService::RestoreDefaults()
{
    server_.ClearRoutes();
    SetKey("K123");
    SetConfig("\xE6\xB5\x8B\xE8\xAF\x95\xE5\x85\xAC\xE5\x91\x8A",                                 // 测试公告
              std::string(AnswerPath) + "?q=\xE9\xA2\x98\xE7\x9B\xAE&k=\xE5\xAF\x86\xE9\x92\xA5", // ?q=题目&k=密钥
              "\xE8\xAF\xA5\xE7\xAD\x94\xE6\xA1\x88\xE5\xB7\xB2\xE8\xA2\xAB\xE5\xB1\x8F\xE8\x94\xBD"); // 该答案已被屏蔽
    SetAnswer(R"({"answer":"A","title":"T"})");
    server_.AddRoute(ReportPath, Reply::Ok("ok", "text/plain"));
}

bool TestAnswerService::Start()
{
    return server_.Start();
}

void TestAnswerService::SetKey(const std::string& key)
{
    server_.AddRoute(LookupPath,
                     Reply::Ok("<html><head><meta charset=\"utf-8\"></head><body>" + key + "</body></html>"));
}

void TestAnswerService::SetConfig(const std::string& title, const std::string& apiTemplate, const std::string& log)
{
    // The template needs the port, known only once the server listens.
    server_.AddHandler(ConfigPath, [this, title, apiTemplate, log](const RecordedRequest&) {
        const std::string api =
            apiTemplate.find("://") == std::string::npos ? server_.BaseUrl() + apiTemplate : apiTemplate;
        return Reply::Ok("{\"title\":" + JsonQuote(title) + ",\"api\":" + JsonQuote(api) +
                             ",\"log\":" + JsonQuote(log) + "}",
                         "application/json");
    });
}

void TestAnswerService::SetConfigJson(const std::string& json)
{
    server_.AddRoute(ConfigPath, Reply::Ok(json, "application/json"));
}

void TestAnswerService::SetAnswer(const std::string& json)
{
    server_.AddRoute(AnswerPath, Reply::Ok(json, "application/json"));
}

std::vector<RecordedRequest> TestAnswerService::RequestsTo(const std::string& path) const
{
    std::vector<RecordedRequest> matching;
    for (const RecordedRequest& request : server_.Requests()) {
        if (request.Path() == path)
            matching.push_back(request);
    }
    return matching;
}

bool TestAnswerService::WaitForReports(size_t count, std::chrono::milliseconds timeout) const
{
    return AppDriver::WaitFor([&] { return RequestsTo(ReportPath).size() >= count; },
                              static_cast<DWORD>(timeout.count()));
}

bool TestAnswerService::WaitUntilReportsStop(std::chrono::milliseconds quiet, size_t& reports) const
{
    return AppDriver::WaitFor(
        [&] {
            const size_t before = RequestsTo(ReportPath).size();
            Sleep(static_cast<DWORD>(quiet.count()));
            reports = RequestsTo(ReportPath).size();
            return reports == before;
        },
        30000);
}

std::string JsonQuote(const std::string& utf8)
{
    std::string quoted = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            quoted += escape;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

std::wstring PrepareKelvoraCopy(const std::wstring& directory, const std::string& serviceBaseUrl)
{
    if (serviceBaseUrl.size() >= static_cast<size_t>(ServiceBaseUrlSlotSize))
        return {};
    ByteBuffer image = ReadFileBytes(AppDriver::KelvoraExePath());
    // The slot as this build fills it: the URL, then zeros to its end.
    const unsigned char* slot = reinterpret_cast<const unsigned char*>(ServiceBaseUrl);
    auto found = std::search(image.begin(), image.end(), slot, slot + ServiceBaseUrlSlotSize);
    if (found == image.end())
        return {};
    std::fill(found, found + ServiceBaseUrlSlotSize, 0);
    std::copy(serviceBaseUrl.begin(), serviceBaseUrl.end(), found);

    const std::wstring path = directory + L"\\Kelvora.exe";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    DWORD written = 0;
    const BOOL ok = WriteFile(file, image.data(), static_cast<DWORD>(image.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == image.size() ? path : std::wstring();
}
