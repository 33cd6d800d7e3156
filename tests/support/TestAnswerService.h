#pragma once
#include <chrono>
#include <string>
#include <vector>

#include "tests/support/LoopbackServer.h"

// A loopback answer service for end-to-end tests of the real Kelvora.exe: it
// serves the lookup page, the configuration, the answer and the report, and
// records every raw request. Texts are UTF-8, as on the wire.
//
//   TestAnswerService service;
//   service.SetAnswer(R"({"answer":"北京","title":"中国的首都是哪里"})");
//   ASSERT_TRUE(service.Start());
//   ... copy Kelvora.exe with PrepareKelvoraCopy(dir, service.BaseUrl()) ...
//
// Later routes win over earlier ones, so a test can replace any reply through
// Server().AddRoute before or after Start.
class TestAnswerService {
public:
    static constexpr const char* LookupPath = "/get_cha_url.php";
    static constexpr const char* ConfigPath = "/new_get_api.php";
    static constexpr const char* AnswerPath = "/api/answer";
    static constexpr const char* ReportPath = "/upmy/up.php";

    TestAnswerService();

    bool Start();
    // Drops every route added since and serves the defaults again: key K123,
    // the configuration above, the answer {"answer":"A","title":"T"}.
    void RestoreDefaults();
    std::string BaseUrl() const { return server_.BaseUrl(); }
    LoopbackServer& Server() { return server_; }

    // The body of the lookup page: the key.
    void SetKey(const std::string& key);
    // The configuration reply as members; `apiTemplate` is appended to BaseUrl()
    // unless it starts with a scheme.
    void SetConfig(const std::string& title, const std::string& apiTemplate, const std::string& log);
    void SetConfigJson(const std::string& json);
    void SetAnswer(const std::string& json);

    // The requests seen so far, and those whose path is `path`.
    std::vector<RecordedRequest> Requests() const { return server_.Requests(); }
    std::vector<RecordedRequest> RequestsTo(const std::string& path) const;
    // Waits until `count` reports have arrived; every lookup ends with one.
    bool WaitForReports(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;
    // Waits until no report arrives for `quiet` (lookups have stopped), at most
    // 30 s; `reports` is the count of reports then.
    bool WaitUntilReportsStop(std::chrono::milliseconds quiet, size_t& reports) const;

private:
    LoopbackServer server_;
};

// JSON text of a string, for building replies.
std::string JsonQuote(const std::string& utf8);

// Copies the Kelvora.exe under test into `directory` with its service base URL
// pointed at `serviceBaseUrl`, and returns the copy's path (empty on failure).
// The executable keeps its base URL in a fixed-size slot, which is rewritten
// here; nothing else in the file changes.
std::wstring PrepareKelvoraCopy(const std::wstring& directory, const std::string& serviceBaseUrl);
