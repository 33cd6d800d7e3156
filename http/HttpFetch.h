#pragma once
#include "text/AnsiText.h"

// One blocking HTTP GET: the body of the final response (after redirects),
// whatever its status, byte for byte. Empty when the URL is empty or unsafe
// (it holds a control character), when it cannot be parsed, when the request
// cannot be sent, or when the body is empty. A read that fails part-way keeps
// what arrived.
ByteBuffer HttpFetch(const AnsiText& url);
