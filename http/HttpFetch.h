#pragma once
#include <cstddef>
#include <cstdint>

#include "text/AnsiText.h"

// How long and how large one request may be. The window waits for every
// fetch, so a service that keeps trickling bytes, or sends without end, must
// not hold it for ever or exhaust the process's memory.
struct FetchLimits {
    uint32_t totalMs = 60000;                  // per fetch, redirects included, until the body has ended
    size_t maxBodyBytes = 64u * 1024u * 1024u; // far above any reply of the service
};

// One blocking HTTP GET: the body of the final response (after redirects),
// whatever its status, byte for byte. Empty when the URL is empty or unsafe
// (it holds a control character), when it cannot be parsed, when the request
// cannot be sent, or when the body is empty. A read that fails part-way keeps
// what arrived. A reply that outlasts the limits gives the empty result: a
// body cut by us is not the service's reply. Each request runs on a thread
// of its own while the caller waits, so that the wait can end on time.
ByteBuffer HttpFetch(const AnsiText& url, const FetchLimits& limits = {});
