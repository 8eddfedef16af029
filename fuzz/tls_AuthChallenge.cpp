// Fuzz target: the HTTP client's challenge reader, which takes a 401's or 407's challenge out of
// its header values and decodes the token it hands to the security interface. Arbitrary values
// (one per line): a chosen scheme is one of the allowed ones, its data comes from the value that
// offered it, and a decoded token never passes the ceiling. Round trip: the input's bytes as a
// token, Base64-encoded behind "NTLM " after a Basic challenge, come back whole.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "crypto/base/SBUtils.h"
#include "tls/SBHTTPAuth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    rtl::StringList allowed;
    allowed.Add("NTLM");
    allowed.Add("Basic");

    std::vector<std::string> values;
    for (size_t at = 0; at <= text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        values.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    std::string scheme, challengeData;
    if (ChooseAuthChallenge(allowed, values, scheme, challengeData)) {
        if (scheme != "NTLM" && scheme != "Basic") std::abort();
        bool fromAValue = false;
        for (const std::string& v : values)
            fromAValue = fromAValue || v.find(challengeData) != std::string::npos;
        if (!fromAValue) std::abort();
        std::vector<uint8_t> token;
        if (DecodeAuthChallenge(challengeData, token) && token.size() > kAuthTokenLimit) std::abort();
    }

    const std::string bytes = text.substr(0, kAuthTokenLimit);
    std::string encoded(bytes.size() * 4 / 3 + 4, '\0');
    size_t encodedSize = encoded.size();
    if (!EncodeBase64(bytes.data(), bytes.size(), encoded.data(), false, encodedSize)) std::abort();
    encoded.resize(encodedSize);
    const std::vector<std::string> offered = {"Basic realm=\"kw\"", "  NTLM " + encoded + " "};
    if (!ChooseAuthChallenge(allowed, offered, scheme, challengeData) || scheme != "NTLM") std::abort();
    std::vector<uint8_t> token;
    if (!DecodeAuthChallenge(challengeData, token)) std::abort();
    if (std::string(token.begin(), token.end()) != bytes) std::abort();
    return 0;
}
