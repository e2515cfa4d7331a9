// qv_info: the identity record for the factory line and for scripts.

#include "info.hpp"

#include "decimal.hpp"
#include "mac_address.hpp"
#include "qvf_image.hpp"
#include "read_whole.hpp"
#include "record_text.hpp"
#include "unique_fd.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

using std::string_view;

constexpr int kNotProvisioned = 1;
constexpr int kRefused = 2;
constexpr int kFailed = -1;

constexpr char kUsage[] =
    "usage: qv_info [-d PATH] [-w SECONDS] [show] [-j|-p]\n"
    "       qv_info [-d PATH] [-w SECONDS] get FIELD\n"
    "       qv_info [-d PATH] [-w SECONDS] set FIELD=VALUE...\n"
    "       qv_info [-d PATH] [-w SECONDS] set -f FILE    (FILE - is standard input)\n"
    "       qv_info [-d PATH] [-w SECONDS] verify [-j]\n"
    "FIELD is mac, uid, hdv or prdt. PATH is the partition (/dev/mtd3 unless\n"
    "given), or a file holding a partition image. -w waits at most SECONDS\n"
    "for the record's lock. show -p shows the provisioned fields and why the\n"
    "others are not; verify -j shows the record as JSON with its verdict.\n";

// The longest wait for the lock that -w takes: an hour.
constexpr unsigned long kMaxLockWait = 3600;

// A factory's file of assignments is a few lines; anything far larger is
// not one.
constexpr size_t kMaxFileSize = 16384;

using TextMember = char (qvf::Fields::*)[QVF_TEXT_FIELD_SIZE];

struct Field {
    const char *name;
    unsigned bit;
    TextMember text; // null for the MAC address
};

constexpr Field kFields[] = {
    {"mac", qvf::kMacBit, nullptr},
    {"uid", qvf::kUidBit, &qvf::Fields::uid},
    {"hdv", qvf::kHardwareVersionBit, &qvf::Fields::hardware_version},
    {"prdt", qvf::kProductTypeBit, &qvf::Fields::product_type},
};

const Field *find_field(string_view name)
{
    for (const Field &f : kFields)
        if (name == f.name)
            return &f;
    return nullptr;
}

using qv::printable;

// A text field's bytes: up to the first NUL, all of them when it has none.
string_view text_of(const qvf::Fields &fields, const Field &field)
{
    const char *text = fields.*field.text;
    return {text, strnlen(text, QVF_TEXT_FIELD_SIZE)};
}

// Every byte that could end or disguise a line, and the backslash itself,
// as \xNN: each field stays one line and its bytes can be told exactly.
void print_escaped(FILE *out, string_view text)
{
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (printable(c) && c != '\\')
            (void)fputc(c, out);
        else
            fprintf(out, "\\x%02x", c);
    }
}

// A JSON string's contents: any JSON parser gives back each byte as the
// code point of the same value.
void print_json(string_view text)
{
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\')
            printf("\\%c", c);
        else if (printable(c))
            (void)putchar(c);
        else
            printf("\\u%04x", c);
    }
}

void print_value(const qvf::Fields &fields, const Field &field, bool json)
{
    const uint8_t *m = fields.mac;
    if (field.text == nullptr)
        printf("%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    else if (json)
        print_json(text_of(fields, field));
    else
        print_escaped(stdout, text_of(fields, field));
}

// Why a field is not provisioned, or null when it is.
const char *unprovisioned(const qvf::Fields &fields, const Field &field)
{
    if (field.text == nullptr) {
        const char *why = qv::not_unicast(fields.mac);
        return why == qv::kAllZeros ? "not set" : why; // a blank field reads as zeros
    }
    return qv::unprovisioned_text(text_of(fields, field));
}

bool provisioned(const qvf::Fields &fields)
{
    for (const Field &f : kFields)
        if (unprovisioned(fields, f) != nullptr)
            return false;
    return true;
}

// How show and verify print the record.
enum class Form {
    kText,      // FIELD=VALUE lines
    kJson,      // one JSON object
    kVerdict,   // the JSON object and "provisioned"
    kProvisioned, // FIELD=VALUE where provisioned, else FIELD: why not
};

void show(const qvf::Fields &fields, Form form)
{
    if (form == Form::kText || form == Form::kProvisioned) {
        for (const Field &f : kFields) {
            const char *why = form == Form::kProvisioned ? unprovisioned(fields, f) : nullptr;
            if (why != nullptr) {
                printf("%s: %s\n", f.name, why);
                continue;
            }
            printf("%s=", f.name);
            // A provisioned text is printable throughout: its bytes as they are.
            if (form == Form::kProvisioned && f.text != nullptr)
                printf("%.*s", static_cast<int>(text_of(fields, f).size()), fields.*f.text);
            else
                print_value(fields, f, false);
            (void)putchar('\n');
        }
        return;
    }
    const char *separator = "{";
    for (const Field &f : kFields) {
        printf("%s\"%s\":\"", separator, f.name);
        print_value(fields, f, true);
        (void)putchar('"');
        separator = ",";
    }
    if (form == Form::kVerdict)
        printf(",\"provisioned\":%s", provisioned(fields) ? "true" : "false");
    puts("}");
}

int verify(const qvf::Fields &fields)
{
    int status = 0;
    for (const Field &f : kFields) {
        if (const char *why = unprovisioned(fields, f)) {
            printf("%s: %s\n", f.name, why);
            status = kNotProvisioned;
        }
    }
    return status;
}

// ------------------------------------------------------------- assignments

// Where an assignment came from, for the message that refuses it.
struct Place {
    const char *file = nullptr; // null: the command line
    unsigned line = 0;
};

[[gnu::format(printf, 2, 3)]] void refuse(const Place &at, const char *format, ...)
{
    fputs("qv_info: ", stderr);
    if (at.file != nullptr)
        fprintf(stderr, "%s:%u: ", at.file, at.line);
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args);
    va_end(args);
}

// Six pairs of hex digits, separated by ':' throughout or '-' throughout,
// naming one device: the reason it is refused, or null.
const char *parse_mac(string_view text, uint8_t mac[6])
{
    const char *format = "not six pairs of hex digits separated by ':' or by '-'";
    if (text.size() != 17 || (text[2] != ':' && text[2] != '-'))
        return format;
    for (size_t i = 0; i < 6; ++i) {
        const int byte = qv::mac_text_byte(text, i);
        if (byte < 0 || (i < 5 && text[3 * i + 2] != text[2]))
            return format;
        mac[i] = static_cast<uint8_t>(byte);
    }
    return qv::not_unicast(mac);
}

const char *parse_text(string_view text, char (&field)[QVF_TEXT_FIELD_SIZE])
{
    if (text.size() > sizeof field)
        return "longer than 32 bytes";
    for (const char c : text)
        if (!printable(static_cast<unsigned char>(c)))
            return "not printable (bytes 0x20 to 0x7e only)";
    if (const char *why = text.empty() ? nullptr : qv::badly_spaced(text))
        return why;
    memset(field, 0, sizeof field);
    memcpy(field, text.data(), text.size());
    return nullptr;
}

struct Assignments {
    qvf::Fields fields{};
    unsigned named = 0; // the bits of the fields named so far
};

// Takes one FIELD=VALUE into `to`; false when refused, with the reason told.
bool assign(Assignments &to, string_view word, const Place &at)
{
    const size_t equals = word.find('=');
    const string_view name(word.data(), equals == string_view::npos ? word.size() : equals);
    if (equals == string_view::npos) {
        refuse(at, "'");
        print_escaped(stderr, word);
        fputs("' is not FIELD=VALUE\n", stderr);
        return false;
    }
    const Field *field = find_field(name);
    if (field == nullptr) {
        refuse(at, "unknown field '");
        print_escaped(stderr, name);
        fputs("' (mac, uid, hdv or prdt)\n", stderr);
        return false;
    }
    if (to.named & field->bit) {
        refuse(at, "field '%s' named twice\n", field->name);
        return false;
    }
    const string_view value(word.data() + equals + 1, word.size() - equals - 1);
    const char *why = field->text == nullptr ? parse_mac(value, to.fields.mac)
                                             : parse_text(value, to.fields.*field->text);
    if (why != nullptr) {
        refuse(at, "%s: %s\n", field->name, why);
        return false;
    }
    to.named |= field->bit;
    return true;
}

bool blank_line(string_view line)
{
    for (const char c : line)
        if (c != ' ' && c != '\t')
            return false;
    return true;
}

// One FIELD=VALUE a line; blank lines and lines starting with '#' are
// skipped. The value is the rest of the line: spaces belong to it, the line
// end and a CR before it do not.
bool assign_lines(Assignments &to, string_view text, const char *file)
{
    Place at{file, 0};
    while (!text.empty()) {
        ++at.line;
        const size_t end = text.find('\n');
        string_view line(text.data(), end == string_view::npos ? text.size() : end);
        text.remove_prefix(end == string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (blank_line(line) || line.front() == '#')
            continue;
        if (!assign(to, line, at))
            return false;
    }
    return true;
}

// Reads FILE ("-": standard input) whole into buffer; its length, or -1
// when it could not be read (told).
ssize_t read_file(const char *file, char (&buffer)[kMaxFileSize + 1])
{
    qv::UniqueFd owned;
    int fd = STDIN_FILENO;
    if (strcmp(file, "-") != 0) {
        owned = qv::open_fd(file, O_RDONLY);
        if (!owned.valid()) {
            fprintf(stderr, "qv_info: %s: %s\n", file, strerror(errno));
            return -1;
        }
        fd = owned.get();
    }
    const ssize_t size = qv::read_whole(fd, buffer, sizeof buffer);
    if (size < 0) {
        fprintf(stderr, "qv_info: %s: %s\n", file, strerror(errno));
        return -1;
    }
    if (static_cast<size_t>(size) == sizeof buffer) {
        fprintf(stderr, "qv_info: %s: larger than %zu bytes\n", file, kMaxFileSize);
        return -1;
    }
    return size;
}

// ------------------------------------------------------------ the commands

int usage_error(const char *what)
{
    fprintf(stderr, "qv_info: %s\n%s", what, kUsage);
    return kRefused;
}

// A path refused as no place for the record has been told in one line.
int read_fields(const qvf::Partition &partition, qvf::Fields &fields)
{
    const int read = qvf::any_fields_read(partition, fields);
    if (read == 0)
        return 0;
    if (read != qvf::kRefused)
        fprintf(stderr, "qv_info: the record on %s could not be read\n", partition.path);
    return kFailed;
}

int store(const qvf::Partition &partition, int argc, char **argv)
{
    Assignments to;
    if (argc > 0 && strcmp(argv[0], "-f") == 0) {
        if (argc != 2)
            return usage_error("set -f takes one FILE");
        static_assert(kMaxFileSize < 65536, "the buffer lives on the stack");
        char text[kMaxFileSize + 1];
        const ssize_t size = read_file(argv[1], text);
        if (size < 0 || !assign_lines(to, string_view(text, static_cast<size_t>(size)), argv[1]))
            return kRefused;
        if (to.named == 0) {
            fprintf(stderr, "qv_info: %s: no FIELD=VALUE in it\n", argv[1]);
            return kRefused;
        }
    } else {
        if (argc == 0)
            return usage_error("set needs FIELD=VALUE");
        for (int i = 0; i < argc; ++i)
            if (!assign(to, argv[i], Place{}))
                return kRefused;
    }
    switch (qvf::any_fields_store(partition, to.fields, to.named)) {
    case qvf::kStored:
        return 0;
    case qvf::kUnsure:
        fprintf(stderr, "qv_info: the record on %s was written, but may not survive a power loss\n",
                partition.path);
        return kFailed;
    case qvf::kReadFailed:
        fprintf(stderr, "qv_info: the record on %s could not be read\n", partition.path);
        return kFailed;
    case qvf::kRefused:
        return kFailed;
    case qvf::kWriteFailed:
        break;
    }
    fprintf(stderr, "qv_info: the record on %s was not stored\n", partition.path);
    return kFailed;
}

// What the options before the command asked for.
struct Options {
    qvf::Partition partition = qvf::kInformationPartition;
    bool named = false; // -d given
    bool json = false;
    bool only_provisioned = false;
};

int show_command(const Options &options, int argc, char **argv)
{
    bool json = options.json, only_provisioned = options.only_provisioned;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "-j") == 0)
            json = true;
        else if (strcmp(argv[i], "-p") == 0)
            only_provisioned = true;
        else
            return usage_error("show takes only -j or -p");
    }
    if (json && only_provisioned)
        return usage_error("show takes only -j or -p");
    qvf::Fields fields;
    if (read_fields(options.partition, fields) < 0)
        return kFailed;
    show(fields, json ? Form::kJson : only_provisioned ? Form::kProvisioned : Form::kText);
    return only_provisioned && !provisioned(fields) ? kNotProvisioned : 0;
}

// The command after the options, with its own arguments.
int run(const Options &options, const char *command, int argc, char **argv)
{
    if (strcmp(command, "show") == 0)
        return show_command(options, argc, argv);
    if (options.only_provisioned)
        return usage_error("-p is for show");
    bool json = options.json;
    if (strcmp(command, "set") == 0)
        return json ? usage_error("-j is for show and verify") : store(options.partition, argc, argv);
    qvf::Fields fields;
    if (strcmp(command, "verify") == 0) {
        if (argc == 1 && strcmp(argv[0], "-j") == 0)
            json = true;
        else if (argc != 0)
            return usage_error("verify takes only -j");
        if (read_fields(options.partition, fields) < 0)
            return kFailed;
        if (!json)
            return verify(fields);
        show(fields, Form::kVerdict);
        return provisioned(fields) ? 0 : kNotProvisioned;
    }
    if (json)
        return usage_error("-j is for show and verify");
    if (strcmp(command, "get") == 0) {
        if (argc != 1)
            return usage_error("get takes one FIELD");
        const Field *field = find_field(argv[0]);
        if (field == nullptr)
            return usage_error("unknown FIELD");
        if (read_fields(options.partition, fields) < 0)
            return kFailed;
        print_value(fields, *field, false);
        (void)putchar('\n');
        return 0;
    }
    return usage_error("unknown command");
}

// SECONDS of -w, a whole decimal number up to kMaxLockWait, in milliseconds.
bool parse_seconds(const char *text, int &milliseconds)
{
    const std::optional<uint64_t> seconds = qv::parse_decimal(text, kMaxLockWait);
    if (!seconds)
        return false;
    milliseconds = static_cast<int>(*seconds) * 1000;
    return true;
}

} // namespace

int tool_main(int argc, char **argv)
{
    Options options;
    qvf::Partition &partition = options.partition;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        if (strcmp(argv[i], "-h") == 0) {
            fputs(kUsage, stdout);
            return 0;
        }
        if (strcmp(argv[i], "-j") == 0) {
            options.json = true;
        } else if (strcmp(argv[i], "-p") == 0) {
            options.only_provisioned = true;
        } else if (strcmp(argv[i], "-d") == 0 && i + 1 < argc && !options.named) {
            // An empty PATH is a script's unset variable, not a file here.
            if (argv[++i][0] == '\0')
                return usage_error("-d takes a PATH that is not empty");
            partition.path = argv[i];
            options.named = true;
        } else if (strcmp(argv[i], "-w") == 0 && i + 1 < argc && partition.lock_wait_ms < 0) {
            if (!parse_seconds(argv[++i], partition.lock_wait_ms))
                return usage_error("-w takes whole SECONDS from 0 to 3600");
        } else {
            return usage_error("unknown option, or -d or -w without its value or given twice");
        }
    }
    const char *command = i < argc ? argv[i++] : "show";
    return run(options, command, argc - i, argv + i);
}
