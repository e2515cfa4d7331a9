// qv_entity: the chassis row of ENTITY-MIB's entPhysicalTable, from the
// identity record, for snmpd's pass_persist.
//
// snmpd writes a request as lines on our standard input and reads exactly
// one answer from our standard output before it serves anything else, so
// standard output carries the protocol and nothing else (the library's
// messages go to standard error), every value is one line, and every
// request is answered at once: the record's lock is waited for only
// briefly, and a request that could not be answered gets NONE.

#include "entity.hpp"

#include "decimal.hpp"
#include "qvf_image.hpp"
#include "read_whole.hpp"
#include "record_text.hpp"
#include "unique_fd.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

namespace {

using std::string_view;

constexpr int kRefused = 2;
constexpr int kFailed = -1;

constexpr char kUsage[] =
    "usage: qv_entity [-d PATH] [-r RELEASE]\n"
    "Answers snmpd's pass_persist requests on standard input for ENTITY-MIB's\n"
    "chassis row (1.3.6.1.2.1.47.1.1.1.1.*.1) from the identity record (PATH:\n"
    "/dev/mtd3 unless given, or a partition image) and the firmware's release\n"
    "(RELEASE: /etc/openwrt_release unless given).\n";

// A store holds the record's lock for a second or so. snmpd serves nobody
// while it waits for us, and a poller asks again after a second: a request
// that finds the record locked longer than this is answered NONE.
constexpr int kLockWaitMs = 400;

constexpr const char *kReleaseFile = "/etc/openwrt_release";
// The release file is a few short lines; SnmpAdminString's limit.
constexpr size_t kMaxReleaseFile = 4096;
constexpr size_t kMaxRelease = 255;

// snmpd's longest OID (MAX_OID_LEN) has 128 components of up to ten
// digits; a longer line is no request of snmpd's.
constexpr size_t kMaxOidLength = 128;
constexpr size_t kMaxLine = 1536;

// ------------------------------------------------------------------- table

// entPhysicalEntry. The chassis is the table's one row: index 1.
constexpr uint32_t kEntry[] = {1, 3, 6, 1, 2, 1, 47, 1, 1, 1, 1};
constexpr uint32_t kChassis = 1;

enum class Value {
    kText,     // fixed printable text
    kInteger,  // fixed, in decimal
    kObjectId, // fixed, as snmpd's pass parser takes it
    kOctets,   // fixed, hex pairs separated by spaces
    kHardwareVersion,
    kUid,
    kProductType,
    kRelease,
};

struct Column {
    uint32_t number;
    Value value;
    const char *fixed = nullptr;
};

// In OID order, which getnext walks.
constexpr Column kColumns[] = {
    {2, Value::kText, "QV managed Ethernet switch, 10 ports"}, // entPhysicalDescr
    {3, Value::kObjectId, ".0.0"},                           // VendorType: unknown
    {4, Value::kInteger, "0"},                               // ContainedIn: nothing
    {5, Value::kInteger, "3"},                               // Class: chassis(3)
    {6, Value::kInteger, "-1"},                              // ParentRelPos
    {7, Value::kText, "chassis"},                            // Name
    {8, Value::kHardwareVersion},                            // HardwareRev
    {9, Value::kText, ""},                                   // FirmwareRev
    {10, Value::kRelease},                                   // SoftwareRev
    {11, Value::kUid},                                       // SerialNum
    {12, Value::kText, "QV"},                                // MfgName
    {13, Value::kProductType},                               // ModelName
    {14, Value::kText, ""},                                  // Alias
    {15, Value::kText, ""},                                  // AssetID
    {16, Value::kInteger, "2"},                              // IsFRU: false(2)
    {17, Value::kOctets, "00 00 00 00 00 00 00 00"},         // MfgDate: unknown
    {18, Value::kText, ""},                                  // Uris
};

struct Oid {
    uint32_t part[kMaxOidLength];
    size_t length = 0;

    std::span<const uint32_t> parts() const { return {part, length}; }
};

// An OID as snmpd writes it, ".1.3.6...": decimal components of 32 bits
// separated by dots, the leading dot optional; false for anything else.
bool parse_oid(string_view text, Oid &oid)
{
    if (!text.empty() && text.front() == '.')
        text.remove_prefix(1);
    oid.length = 0;
    for (;;) {
        const size_t dot = text.find('.');
        const string_view part(text.data(), dot == string_view::npos ? text.size() : dot);
        const std::optional<uint64_t> value = qv::parse_decimal(part, UINT32_MAX);
        if (!value || oid.length == kMaxOidLength)
            return false;
        oid.part[oid.length++] = static_cast<uint32_t>(*value);
        if (dot == string_view::npos)
            return true;
        text.remove_prefix(dot + 1);
    }
}

// The instance of a column: entPhysicalEntry.COLUMN.1.
Oid instance_of(const Column &column)
{
    Oid oid;
    for (const uint32_t part : kEntry)
        oid.part[oid.length++] = part;
    oid.part[oid.length++] = column.number;
    oid.part[oid.length++] = kChassis;
    return oid;
}

// OID order: component by component, a prefix before what extends it.
int compare(std::span<const uint32_t> a, std::span<const uint32_t> b)
{
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

// The column whose instance is the OID asked for (get), or the first one
// after it (getnext); null past the table or where it has no instance.
const Column *find_column(const Oid &asked, bool next)
{
    for (const Column &column : kColumns) {
        const int order = compare(instance_of(column).parts(), asked.parts());
        if (next ? order > 0 : order == 0)
            return &column;
    }
    return nullptr;
}

// ----------------------------------------------------------------- answers

// A text field's bytes up to the first NUL, when it is provisioned (and so
// printable); nothing otherwise.
string_view provisioned(const char (&field)[QVF_TEXT_FIELD_SIZE])
{
    const string_view text(field, strnlen(field, sizeof field));
    return qv::unprovisioned_text(text) == nullptr ? text : string_view{};
}

// A printable text: its line is its bytes as they are, which snmpd takes
// up to the line end. A zero-length one goes as no octets at all: snmpd's
// parser of an empty string line looks at the byte before its buffer.
void print_text(string_view text)
{
    if (text.empty())
        fputs("octet\n\n", stdout);
    else
        printf("string\n%.*s\n", static_cast<int>(text.size()), text.data());
}

void answer(const Column &column, const qvf::Fields &fields, string_view release)
{
    const Oid oid = instance_of(column);
    for (const uint32_t part : oid.parts())
        printf(".%u", part);
    (void)putchar('\n');
    switch (column.value) {
    case Value::kText:
        return print_text(column.fixed);
    case Value::kInteger:
        printf("integer\n%s\n", column.fixed);
        return;
    case Value::kObjectId:
        printf("objectid\n%s\n", column.fixed);
        return;
    case Value::kOctets:
        printf("octet\n%s\n", column.fixed);
        return;
    case Value::kHardwareVersion:
        return print_text(provisioned(fields.hardware_version));
    case Value::kUid:
        return print_text(provisioned(fields.uid));
    case Value::kProductType:
        return print_text(provisioned(fields.product_type));
    case Value::kRelease:
        return print_text(release);
    }
}

struct Context {
    qvf::Partition partition;
    string_view release;
};

// get or getnext: one read of the record for an instance that is there.
void answer_read(const Context &context, string_view oid_text, bool next)
{
    Oid oid;
    const Column *column = parse_oid(oid_text, oid) ? find_column(oid, next) : nullptr;
    qvf::Fields fields;
    if (column == nullptr || qvf::any_fields_read(context.partition, fields) != 0) {
        fputs("NONE\n", stdout);
        return;
    }
    answer(*column, fields, context.release);
}

// ---------------------------------------------------------------- requests

// One line of a request, without its line end. A line longer than any
// request is read to its end and kept as too long.
struct Line {
    char text[kMaxLine];
    size_t length = 0;
    bool too_long = false;

    // A line too long is no command and no OID: it reads as a line end,
    // which no line holds.
    string_view view() const { return too_long ? string_view("\n") : string_view(text, length); }
};

// False at the end of input (or when it could not be read).
bool read_line(Line &line)
{
    line.length = 0;
    line.too_long = false;
    int c;
    bool any = false;
    while ((c = getchar()) != EOF && c != '\n') {
        any = true;
        if (line.length < sizeof line.text)
            line.text[line.length++] = static_cast<char>(c);
        else
            line.too_long = true;
    }
    return c == '\n' || any;
}

int end_of_input()
{
    if (ferror(stdin) == 0)
        return 0;
    fprintf(stderr, "qv_entity: standard input: %s\n", strerror(errno));
    return kFailed;
}

int serve(const Context &context)
{
    Line line;
    for (;;) {
        if (!read_line(line))
            return end_of_input();
        const string_view command = line.view();
        // snmpd 5.9 ends a set's value with a blank line of its own, and
        // takes a further answer for the answer to its next request: a
        // blank line asks nothing, and gets nothing.
        if (command.empty())
            continue;
        if (command == "PING") {
            fputs("PONG\n", stdout);
        } else if (command == "get" || command == "getnext") {
            const bool next = command == "getnext";
            if (!read_line(line))
                return end_of_input();
            answer_read(context, line.view(), next);
        } else if (command == "set") {
            // The OID, then the type and value.
            if (!read_line(line) || !read_line(line))
                return end_of_input();
            fputs("not-writable\n", stdout);
        } else {
            fputs("NONE\n", stdout);
        }
        // snmpd waits for this answer; main tells a write that failed.
        if (fflush(stdout) != 0)
            return kFailed;
    }
}

// ----------------------------------------------------------------- release

// DISTRIB_RELEASE of OpenWrt's release file, which shells source: taken
// only when it is on one line, DISTRIB_RELEASE='VALUE', and VALUE is
// printable and free of quotes; otherwise nothing.
string_view release_in(string_view file)
{
    constexpr string_view kKey = "DISTRIB_RELEASE=";
    string_view value;
    int lines = 0;
    while (!file.empty()) {
        const size_t end = file.find('\n');
        string_view line(file.data(), end == string_view::npos ? file.size() : end);
        file.remove_prefix(end == string_view::npos ? file.size() : end + 1);
        // Not starts_with: libstdc++ builds it on substr, which can throw.
        if (line.size() >= kKey.size() && string_view(line.data(), kKey.size()) == kKey) {
            line.remove_prefix(kKey.size());
            value = line;
            ++lines;
        }
    }
    if (lines != 1 || value.size() < 2 || value.front() != '\'' || value.back() != '\'')
        return {};
    value.remove_prefix(1);
    value.remove_suffix(1);
    if (value.size() > kMaxRelease)
        return {};
    for (const char c : value)
        if (!qv::printable(static_cast<unsigned char>(c)) || c == '\'' || c == '"')
            return {};
    return value;
}

// The release file's bytes in buffer, and the release in them. A firmware
// without the file has no release; one that is no regular file, or too
// large to be one, is told and has none either. O_NONBLOCK: a FIFO there
// is not waited on.
string_view read_release(const char *path, char (&buffer)[kMaxReleaseFile + 1])
{
    const qv::UniqueFd fd = qv::open_fd(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
    struct stat st;
    if (!fd.valid() || fstat(fd.get(), &st) != 0) {
        if (errno != ENOENT)
            fprintf(stderr, "qv_entity: %s: %s\n", path, strerror(errno));
        return {};
    }
    if (!S_ISREG(st.st_mode)) {
        fprintf(stderr, "qv_entity: %s: not a regular file\n", path);
        return {};
    }
    const ssize_t size = qv::read_whole(fd.get(), buffer, sizeof buffer);
    if (size < 0) {
        fprintf(stderr, "qv_entity: %s: %s\n", path, strerror(errno));
        return {};
    }
    if (static_cast<size_t>(size) == sizeof buffer) {
        fprintf(stderr, "qv_entity: %s: larger than %zu bytes\n", path, kMaxReleaseFile);
        return {};
    }
    return release_in(string_view(buffer, static_cast<size_t>(size)));
}

} // namespace

int tool_main(int argc, char **argv)
{
    Context context{qvf::kInformationPartition, {}};
    context.partition.lock_wait_ms = kLockWaitMs;
    const char *release_file = nullptr;
    bool named = false;
    for (int i = 1; i < argc; i += 2) {
        const bool has_value = i + 1 < argc && argv[i + 1][0] != '\0';
        if (strcmp(argv[i], "-d") == 0 && has_value && !named) {
            context.partition.path = argv[i + 1];
            named = true;
        } else if (strcmp(argv[i], "-r") == 0 && has_value && release_file == nullptr) {
            release_file = argv[i + 1];
        } else {
            fprintf(stderr, "qv_entity: unknown argument, or -d or -r without its value or given twice\n%s",
                    kUsage);
            return kRefused;
        }
    }
    char release[kMaxReleaseFile + 1];
    context.release = read_release(release_file != nullptr ? release_file : kReleaseFile, release);
    return serve(context);
}
