#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "CookieJar.h"

// One document fetch over HTTP or HTTPS with WinInet, made on a worker thread.
struct FetchRequest {
    uint32_t loadId = 0;
    std::string url; // absolute http(s) URL, UTF-8
    std::string userAgent;
    std::shared_ptr<CookieJar> cookies;
    std::shared_ptr<std::atomic<bool>> cancelled; // set when a newer load replaced this one
};

struct FetchResult {
    uint32_t loadId = 0;
    bool responded = false; // a response came, whatever its status
    std::string failure;    // why not, when it did not
    int status = 0;
    std::string finalUrl; // after redirects
    std::string contentType;
    bool download = false; // an attachment or not a page: the body is not read
    std::string body;      // bytes as served, at most MaxBodyBytes
};

constexpr size_t MaxBodyBytes = 32u * 1024 * 1024;
// No load takes longer than this, whatever the server does; the view enforces
// it on its own thread too, for a worker stuck inside WinInet.
constexpr unsigned LoadTimeoutMs = 90 * 1000;

// Blocks until the fetch ends: a response, a failure, the overall time-out or
// cancellation. Redirects are followed and cookies sent and stored.
FetchResult Fetch(const FetchRequest& request);

// Runs Fetch on a new worker thread and hands the result to deliver, on that
// thread. Nothing else of the caller's is touched from there. False when no
// thread could be started (deliver is then never called).
bool StartFetch(FetchRequest request, std::function<void(FetchResult)> deliver);
