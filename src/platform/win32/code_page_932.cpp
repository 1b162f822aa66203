// Conversion between UTF-8 and code page 932, the code page of the module's message texts.
#include <iconv.h>

#include <cerrno>
#include <string>

#include "platform/win32/win32.h"

namespace {

constexpr const char* kCodePage932 = "CP932";
// What a character gets where the other side has none: U+FFFD going to UTF-8, and '?' going
// to code page 932, as Windows' conversions substitute.
constexpr const char* kUtf8Replacement = "\xEF\xBF\xBD";
constexpr char kCp932Replacement = '?';

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts `input`; an input sequence that cannot be converted is replaced by
    // `replacement` and skipped one byte (or, for valid UTF-8, one character) at a time.
    std::string Convert(const std::string& input, const std::string& replacement, bool utf8Input) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return input;  // no converter: pass through
        std::string output;
        char* in = const_cast<char*>(input.data());
        size_t inLeft = input.size();
        char chunk[256];
        while (inLeft > 0) {
            char* out = chunk;
            size_t outLeft = sizeof chunk;
            const size_t result = iconv(cd_, &in, &inLeft, &out, &outLeft);
            output.append(chunk, static_cast<size_t>(out - chunk));
            if (result != static_cast<size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            // EILSEQ (a sequence without a counterpart) or EINVAL (cut off at the end).
            output += replacement;
            const size_t skip = utf8Input ? Utf8SequenceLength(in, inLeft) : 1;
            in += skip;
            inLeft -= skip;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        char* out = chunk;
        size_t outLeft = sizeof chunk;
        iconv(cd_, nullptr, nullptr, &out, &outLeft);  // flush any shift state
        output.append(chunk, static_cast<size_t>(out - chunk));
        return output;
    }

private:
    // The bytes of the UTF-8 character at `in`: its lead byte and the continuation bytes that
    // follow it, at most as many as the lead byte announces.
    static size_t Utf8SequenceLength(const char* in, size_t left) {
        const auto lead = static_cast<unsigned char>(in[0]);
        size_t expected = 1;
        if (lead >= 0xC0 && lead < 0xE0) {
            expected = 2;
        } else if (lead >= 0xE0 && lead < 0xF0) {
            expected = 3;
        } else if (lead >= 0xF0 && lead < 0xF8) {
            expected = 4;
        }
        size_t n = 1;
        while (n < expected && n < left && (static_cast<unsigned char>(in[n]) & 0xC0) == 0x80) ++n;
        return n;
    }

    iconv_t cd_;
};

}  // namespace

namespace qv::win32 {

std::string DecodeCp932(const char* text) {
    if (text == nullptr) return {};
    // A converter per call: iconv descriptors are not to be shared between threads.
    Converter converter("UTF-8", kCodePage932);
    return converter.Convert(text, kUtf8Replacement, false);
}

std::string EncodeCp932(const std::string& utf8) {
    Converter converter(kCodePage932, "UTF-8");
    return converter.Convert(utf8, std::string(1, kCp932Replacement), true);
}

}  // namespace qv::win32
