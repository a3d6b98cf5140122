// The locale's text conventions through nl_langinfo and iconv.
#include "platform/locale_text.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>

namespace {

std::string LangInfo(nl_item item) {
    const char* value = nl_langinfo(item);
    return value != nullptr ? std::string(value) : std::string();
}

} // namespace

std::string LocaleCharset() {
    return LangInfo(CODESET);
}

std::string LocaleDatePattern() {
    return LangInfo(D_FMT);
}

const char* const kHourOf12WithoutZero = "%-I";

std::string LocaleTimePattern() {
    return LangInfo(T_FMT);
}

bool ConvertCharset(const std::string& from, const std::string& to, const std::string& input, std::string& output,
                    const ConvertBadInputFn& onBad) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) { // NOLINT(performance-no-int-to-ptr): iconv_open's failure value
        return false;
    }
    output.clear();
    std::string chunk(input.size() * 4 + 16, '\0');
    std::size_t inPos = 0;
    while (inPos < input.size()) {
        char* in = const_cast<char*>(input.data()) + inPos;
        std::size_t inLeft = input.size() - inPos;
        char* out = chunk.data();
        std::size_t outLeft = chunk.size();
        const std::size_t result = iconv(cd, &in, &inLeft, &out, &outLeft);
        const int err = errno;
        output.append(chunk.data(), chunk.size() - outLeft);
        inPos = input.size() - inLeft;
        if (result == static_cast<std::size_t>(-1)) {
            if (err == E2BIG) {
                continue;
            }
            inPos += onBad(inPos, output);
        }
    }
    iconv_close(cd);
    return true;
}
