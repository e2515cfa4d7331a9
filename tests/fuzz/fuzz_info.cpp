// qv_info in-process against the fake flash. The flash starts with the
// fuzz data as its record; invariants: show -j's output decodes, as any
// JSON parser would, back to exactly the record's bytes (a blank field as
// zeros); a set ends 0 or 2 and leaves no descriptor open. That a refused
// set writes nothing is held by the case tables' runner (over_fakes.cpp),
// on a row for every reason of refusal.

#include "capture.hpp"
#include "fake_mtd.hpp"
#include "fuzz_support.hpp"
#include "info.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string_view>

namespace {

// Decodes the JSON string that starts at text[at] (its opening quote),
// accepting only the escapes a JSON parser takes; moves at past it.
std::string json_string(const std::string &text, size_t &at)
{
    QVFUZZ_CHECK(text.at(at) == '"');
    std::string out;
    for (++at; text.at(at) != '"'; ++at) {
        const auto c = static_cast<unsigned char>(text.at(at));
        QVFUZZ_CHECK(c >= 0x20 && c < 0x7f); // control bytes must be escaped
        if (c != '\\') {
            out.push_back(static_cast<char>(c));
            continue;
        }
        const char e = text.at(++at);
        if (e == 'u') {
            QVFUZZ_CHECK(text.compare(at + 1, 2, "00") == 0);
            out.push_back(static_cast<char>(qvfuzz::hex_value(text.at(at + 3)) * 16 + qvfuzz::hex_value(text.at(at + 4))));
            at += 4;
        } else {
            QVFUZZ_CHECK(e == '"' || e == '\\');
            out.push_back(e);
        }
    }
    ++at;
    return out;
}

// A field as the tool must show it: the bytes up to the first NUL, a field
// starting with 0xFF read as blank.
std::string text_field(const uint8_t *field)
{
    if (field[0] == 0xFF)
        return "";
    return std::string(reinterpret_cast<const char *>(field), strnlen(reinterpret_cast<const char *>(field), 32));
}

} // namespace

// A set -f - reads standard input: give it an empty one.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    const int null = open("/dev/null", O_RDONLY);
    QVFUZZ_CHECK(null >= 0 && dup2(null, 0) == 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 104)
        return 0;
    fakemtd::Device dev(fakemtd::kNor);
    fakemtd::Install install(dev);
    dev.program(0, std::vector<uint8_t>(data, data + 104));

    const qvtest::RunResult shown = qvtest::run_tool(tool_main, {"qv_info", "-j"});
    QVFUZZ_CHECK(shown.status == 0);
    char mac[18];
    const uint8_t *m = data[0] == 0xFF ? reinterpret_cast<const uint8_t *>("\0\0\0\0\0\0") : data;
    snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    const std::pair<const char *, std::string> expected[] = {
        {"mac", mac}, {"uid", text_field(data + 8)}, {"hdv", text_field(data + 40)}, {"prdt", text_field(data + 72)}};
    size_t at = 0;
    for (const auto &[key, value] : expected) {
        QVFUZZ_CHECK(shown.out.at(at++) == (key[0] == 'm' ? '{' : ','));
        QVFUZZ_CHECK(json_string(shown.out, at) == key && shown.out.at(at++) == ':');
        QVFUZZ_CHECK(json_string(shown.out, at) == value);
    }
    QVFUZZ_CHECK(shown.out.substr(at) == "}\n");

    auto args = qvfuzz::command_line("qv_info", data + 104, size - 104, 5);
    args.insert(args.begin() + 1, "set");
    const int status = qvtest::run_tool(tool_main, args).status;
    QVFUZZ_CHECK(status == 0 || status == 2);
    QVFUZZ_CHECK(dev.open_descriptors == 0);
    return 0;
}
