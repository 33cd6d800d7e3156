// The answer service's reading of a request head from the network: Beast's
// parser under the service's limits, fed in two pieces as reads deliver them.
// The head must read the same whichever way it is split, and nothing over
// the limits may pass.
#include <fuzzer/FuzzedDataProvider.h>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <string>

#include "FuzzCheck.h"
#include "RequestHeadParser.h"

namespace {

constexpr size_t MaxHeaderLine = 200;
constexpr size_t MaxHeaderCount = 8;
constexpr size_t MaxHeadBytes = 1024;

struct Outcome {
    bool done = false;
    bool failed = false;
    std::string method;
    std::string target;
    std::string forwardedFor;
    int version = 0;
    bool body = false;
    bool keepAlive = false;
};

Outcome Parse(const std::string& input, size_t split)
{
    kelvora::RequestHeadParser parser(MaxHeaderLine, MaxHeaderCount, MaxHeadBytes);
    Outcome outcome;
    std::string buffered;
    size_t consumed = 0;
    for (std::string piece : {input.substr(0, split), input.substr(split)}) {
        buffered += piece;
        // As the listener does: no parse without bytes (Beast's parser does
        // pointer arithmetic on an empty buffer's null data).
        if (buffered.empty())
            continue;
        boost::beast::error_code ec;
        size_t used = parser.put(boost::asio::buffer(buffered), ec);
        FUZZ_CHECK(used <= buffered.size());
        buffered.erase(0, used);
        consumed += used;
        if (ec == boost::beast::http::error::need_more)
            continue;
        if (ec) {
            outcome.failed = true;
            return outcome;
        }
        if (!parser.is_header_done())
            continue;
        outcome.done = true;
        outcome.method = parser.MethodText();
        outcome.target = parser.Target();
        outcome.forwardedFor = parser.ForwardedFor();
        outcome.version = parser.Version();
        outcome.body = parser.AnnouncesBody();
        outcome.keepAlive = parser.keep_alive();
        FUZZ_CHECK(parser.GotRequestLine());
        FUZZ_CHECK(!parser.FieldsOverLimit());
        FUZZ_CHECK(!outcome.method.empty() && !outcome.target.empty());
        FUZZ_CHECK(outcome.forwardedFor.size() <= MaxHeaderLine);
        FUZZ_CHECK(consumed <= 2 * MaxHeadBytes);
        FUZZ_CHECK(parser.FieldCount() <= MaxHeaderCount);
        return outcome;
    }
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider provider(data, size);
    size_t split = provider.ConsumeIntegralInRange<size_t>(0, size);
    std::string input = provider.ConsumeRemainingBytesAsString();
    split = std::min(split, input.size());
    Outcome whole = Parse(input, input.size());
    Outcome pieces = Parse(input, split);
    FUZZ_CHECK(whole.done == pieces.done);
    if (whole.done) {
        FUZZ_CHECK(whole.method == pieces.method && whole.target == pieces.target);
        FUZZ_CHECK(whole.version == pieces.version && whole.body == pieces.body);
        FUZZ_CHECK(whole.forwardedFor == pieces.forwardedFor && whole.keepAlive == pieces.keepAlive);
    }
    return 0;
}
