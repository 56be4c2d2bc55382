// Damage sweep over one valid file with names and texts: cut at every
// length, and every header byte replaced by a few values. Each damaged file
// must end in one of the program's messages, leave no output unless it was
// converted, and not disturb the valid file that follows it in the batch.
// All cases of a kind share one directory and one run of the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "e2e/harness.h"
#include "fda/fda.h"
#include "support/aifc_expected.h"
#include "support/fda_builder.h"

using e2e::RunResult;
using e2e::TempDir;

namespace {

const char* const reader_messages[] = {
    "File not Relic Chunky.", "Not found FBIF chunk.", "File not FDA.",
    "Not found INFO chunk.",  "Not found DATA chunk.", "File truncated.",
};
// What can follow a summary, besides "done", for a file that reads well.
const char* const refusals[] = {"Invalid stream format.", "File too large."};

// What a damaged file must come to.
struct Expect {
    bool any = false;         // only one of the messages, and the file rules
    std::string summary;      // exact; empty when the reader fails
    std::string summary_end;  // when the bit rate is not worked out here: what follows it
    std::string end;          // the reader's message, "done" or a refusal
    std::string output;       // the output's bytes when `end` is "done"
};

struct Case {
    std::string name;   // without ".fda"; its follower is the same with "b"
    std::string bytes;
    Expect expect;
};

// The follower: another valid file, converted after each damaged one.
fixture::FdaFields follower_fields()
{
    fixture::FdaFields f = fixture::rich_fields(33);
    f.info = fixture::Info{1, 16, 256, 22050, 5, 9, 1};
    return f;
}
const std::string follower_summary = "(22.1kbps, 22.1kHz, 1ch)...";

std::string aifc_of(const FdaInfo& info, const std::string& payload)
{
    const std::vector<unsigned char> bytes =
        expected_aifc_file(info, std::vector<unsigned char>(payload.begin(), payload.end()));
    return std::string(bytes.begin(), bytes.end());
}

std::uint32_t le32_at(const std::string& s, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
    return v;
}

std::uint32_t be32_at(const std::string& s, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v = v << 8 | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
    return v;
}

std::string tenths_text(std::uint64_t tenths)
{
    return std::to_string(tenths / 10) + "." + static_cast<char>('0' + tenths % 10);
}

// The summary figures as exact decimals, a half going up. sample_rate / 1000
// always has few enough digits; the bit rate, block_bits × 11025 × channels
// / 128000, only while it stays below 10^8, else it is left open.
void expect_summary(const FdaInfo& info, Expect& e)
{
    const std::string channels = std::to_string(
        info.channels < 0x80000000u ? std::int64_t{info.channels} : std::int64_t{info.channels} - 0x100000000);
    e.summary_end = "kbps, " + tenths_text((std::uint64_t{info.sample_rate} + 50) / 100) + "kHz, " + channels +
                    "ch)...";
    const std::uint64_t limit = 12800000000000u;
    const std::uint64_t per_channel = std::uint64_t{info.block_bits} * 11025u;
    if (info.channels == 0 || per_channel < limit / info.channels) {
        e.summary = "(" + tenths_text((per_channel * info.channels + 6400) / 12800) + e.summary_end;
        e.summary_end.clear();
    }
}

Expect converted(const FdaInfo& info, const std::string& payload)
{
    Expect e;
    expect_summary(info, e);
    if (static_cast<std::uint32_t>((info.block_bits >> 3) * info.channels) == 0) {
        e.end = "Invalid stream format.";
    } else {
        e.end = "done";
        e.output = aifc_of(info, payload);
    }
    return e;
}

Expect failed(const std::string& message)
{
    Expect e;
    e.end = message;
    return e;
}

bool one_of(const std::string& text, const char* const* list, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (text == list[i])
            return true;
    }
    return false;
}

// A converted file of unforeseen shape: sizes that agree with its SSND
// chunk, and a payload that the input holds right after its length field.
void check_any_output(const std::string& input, const std::string& out)
{
    ASSERT_GE(out.size(), 152u);
    const std::uint32_t length = be32_at(out, 76) - 10;
    EXPECT_EQ(out.size(), 152u + length + (length & 1));
    EXPECT_EQ(be32_at(out, 4), out.size() - 8);
    bool found = false;
    for (std::size_t q = 0; !found && q + 4 + length <= input.size(); ++q)
        found = le32_at(input, q) == length && input.compare(q + 4, length, out, 90, length) == 0;
    EXPECT_TRUE(found) << "the output's payload is not in the input";
}

struct Tally {
    int converted = 0;
    int refused = 0;
    int failed = 0;
};

// Writes every case and its follower into one directory, runs the program
// once over '*', and checks each line and each file.
Tally run_cases(const std::vector<Case>& cases)
{
    Tally tally;
    TempDir dir;
    const fixture::FdaFields follower = follower_fields();
    const std::string follower_bytes = fixture::fda_bytes(follower);
    const std::string follower_output = aifc_of(fixture::fda_info(follower.info), follower.payload);
    for (const Case& c : cases) {
        dir.write(c.name + "a.fda", c.bytes);
        dir.write(c.name + "b.fda", follower_bytes);
    }

    const RunResult r = e2e::run_fernwick(dir.path(), {"*"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.signal, 0);

    const std::size_t count = 2 * cases.size();
    const std::string head = e2e::banner() + e2e::lines({"Find " + std::to_string(count) + " files"});
    EXPECT_EQ(r.output.compare(0, head.size(), head), 0) << r.output.substr(0, 200);
    std::size_t at = head.size();
    bool lost = false;  // a line is missing: the rest cannot be matched
    auto next_line = [&](std::size_t position, const std::string& name) -> std::string {
        const std::string prefix = "[" + std::to_string(position) + "/" + std::to_string(count) + "] " + name + " ";
        const std::size_t end = r.output.find("\r\n", at);
        if (end == std::string::npos || r.output.compare(at, prefix.size(), prefix) != 0) {
            ADD_FAILURE() << "no line for " << name << " at: " << r.output.substr(at, 200);
            lost = true;
            return {};
        }
        std::string rest = r.output.substr(at + prefix.size(), end - at - prefix.size());
        at = end + 2;
        return rest;
    };

    for (std::size_t i = 0; i < cases.size() && !lost; ++i) {
        const Case& c = cases[i];
        const Expect& e = c.expect;
        SCOPED_TRACE(c.name);
        const std::string rest = next_line(2 * i + 1, c.name + "a.fda");
        if (lost)
            break;
        const std::string output = c.name + "a.aifc";

        // Split the line into the summary (if any) and the message that ends it.
        const std::size_t dots = rest.find(")...");
        const std::string summary = dots == std::string::npos ? "" : rest.substr(0, dots + 4);
        const std::string end = dots == std::string::npos ? rest : rest.substr(dots + 4);
        if (summary.empty()) {
            EXPECT_TRUE(one_of(end, reader_messages, std::size(reader_messages))) << rest;
        } else {
            EXPECT_EQ(summary[0], '(') << rest;
            EXPECT_TRUE(end == "done" || one_of(end, refusals, std::size(refusals))) << rest;
        }

        if (e.any) {
            if (end == "done")
                check_any_output(c.bytes, dir.read(output));
        } else {
            EXPECT_EQ(end, e.end);
            if (!e.summary.empty()) {
                EXPECT_EQ(summary, e.summary);
            } else if (!e.summary_end.empty()) {
                // "(<bit rate>" then the rest as worked out.
                const std::size_t rate = summary.size() - std::min(summary.size(), e.summary_end.size());
                EXPECT_EQ(summary.substr(rate), e.summary_end);
                EXPECT_GT(rate, 1u) << rest;
                EXPECT_EQ(summary.find_first_not_of("0123456789.E", 1), rate) << rest;
            } else {
                EXPECT_EQ(summary, "");
            }
            if (e.end == "done") {
                EXPECT_TRUE(dir.read(output) == e.output) << "output differs";
            }
        }
        if (end == "done")
            ++tally.converted;
        else if (summary.empty())
            ++tally.failed;
        else
            ++tally.refused;
        // No output stays behind a file that was not converted.
        EXPECT_EQ(dir.exists(output), end == "done");
        EXPECT_TRUE(dir.read(c.name + "a.fda") == c.bytes) << "the input was changed";

        // The batch goes on: the follower converts as always.
        EXPECT_EQ(next_line(2 * i + 2, c.name + "b.fda"), follower_summary + "done");
        EXPECT_TRUE(dir.read(c.name + "b.aifc") == follower_output) << "follower's output differs";
    }
    EXPECT_EQ(at, r.output.size()) << "lines left over";
    return tally;
}

std::string hex2(unsigned value)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02x", value & 0xFFu);
    return text;
}

std::string number4(std::size_t value)
{
    const std::string digits = std::to_string(value);
    return std::string(digits.size() < 4 ? 4 - digits.size() : 0, '0') + digits;
}

// The base file: names on every chunk, three texts, an odd payload.
const fixture::FdaFields base = fixture::rich_fields(255);
const std::string base_summary = "(88.2kbps, 44.1kHz, 2ch)...";

TEST(DamageSweep, EveryCutEndsInAMessage)
{
    const std::string bytes = fixture::fda_bytes(base);
    ASSERT_EQ(bytes.size(), fixture::payload_offset(base) + 255);

    std::vector<Case> cases;
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        // Short of the magic, a file is no chunky file; past it, whatever
        // record the cut falls in is incomplete, the payload included.
        cases.push_back({"cut-" + number4(cut), bytes.substr(0, cut),
                         failed(cut < 12 ? "File not Relic Chunky." : "File truncated.")});
    }
    const Tally t = run_cases(cases);
    EXPECT_EQ(t.failed, static_cast<int>(bytes.size()));
}

// What a byte of the header is, for the expected result of its change.
enum class Region { magic, id, unread, length_field, info, payload_length };

struct Span {
    std::size_t begin, end;
    Region region;
    int chunk;  // for ids: which chunk
};

// The header's layout, worked out from the fields' sizes.
std::vector<Span> header_layout(const fixture::FdaFields& f)
{
    std::vector<Span> spans;
    std::size_t at = 0;
    auto add = [&](std::size_t size, Region region, int chunk = -1) {
        spans.push_back({at, at + size, region, chunk});
        at += size;
    };
    auto chunk_header = [&](int chunk) {
        add(4, Region::unread);
        add(4, Region::id, chunk);
        add(8, Region::unread);
        add(4, Region::length_field);
        add(f.names[chunk].size(), Region::unread);
    };
    add(12, Region::magic);
    add(12, Region::unread);
    chunk_header(0);
    for (const std::string* text : {&f.text1, &f.text2, &f.text3}) {
        add(4, Region::length_field);
        add(text->size(), Region::unread);
        if (text == &f.text1)
            add(4, Region::unread);  // value
    }
    chunk_header(1);
    chunk_header(2);
    add(28, Region::info);
    chunk_header(3);
    add(4, Region::payload_length);
    return spans;
}

TEST(DamageSweep, EveryHeaderByteChanged)
{
    const std::string bytes = fixture::fda_bytes(base);
    const std::vector<Span> layout = header_layout(base);
    const std::size_t header = layout.back().end;
    ASSERT_EQ(header, fixture::payload_offset(base));
    const FdaInfo base_info = fixture::fda_info(base.info);
    ASSERT_EQ(converted(base_info, base.payload).summary, base_summary);
    const std::string id_messages[4] = {"Not found FBIF chunk.", "File not FDA.", "Not found INFO chunk.",
                                        "Not found DATA chunk."};

    std::vector<Case> cases;
    for (const Span& span : layout) {
        for (std::size_t at = span.begin; at < span.end; ++at) {
            const unsigned original = static_cast<unsigned char>(bytes[at]);
            // In ascending order, so that the names sort as the cases.
            std::vector<unsigned> values = {0x00u, 0xFFu, ~original & 0xFFu};
            std::sort(values.begin(), values.end());
            values.erase(std::unique(values.begin(), values.end()), values.end());
            values.erase(std::remove(values.begin(), values.end(), original), values.end());
            for (const unsigned v : values) {
                std::string damaged = bytes;
                damaged[at] = static_cast<char>(v);

                Expect e;
                switch (span.region) {
                case Region::magic:
                    e = failed("File not Relic Chunky.");
                    break;
                case Region::id:
                    e = failed(id_messages[span.chunk]);
                    break;
                case Region::unread:
                    e = converted(base_info, base.payload);
                    break;
                case Region::length_field:
                    // A name or text of another length moves everything after it.
                    e.any = true;
                    break;
                case Region::info: {
                    FdaInfo info = base_info;
                    std::uint32_t* fields[] = {&info.channels,   &info.sample_size, &info.block_bits,
                                               &info.sample_rate, &info.loop_begin, &info.loop_end,
                                               &info.start_offset};
                    *fields[(at - span.begin) / 4] = le32_at(damaged, span.begin + (at - span.begin) / 4 * 4);
                    e = converted(info, base.payload);
                    break;
                }
                case Region::payload_length: {
                    const std::uint32_t length = le32_at(damaged, span.begin);
                    e = length > base.payload.size() ? failed("File truncated.")
                                                     : converted(base_info, base.payload.substr(0, length));
                    break;
                }
                }
                cases.push_back({"flip-" + number4(at) + "-" + hex2(v), damaged, e});
            }
        }
    }
    ASSERT_GT(cases.size(), 2 * header);
    const Tally t = run_cases(cases);
    // Each kind of outcome is reached.
    EXPECT_GT(t.converted, 0);
    EXPECT_GT(t.refused, 0);
    EXPECT_GT(t.failed, 0);
    std::printf("[ sweep    ] %zu header changes: %d converted, %d refused, %d failed\n", cases.size(),
                t.converted, t.refused, t.failed);
}

} // namespace
