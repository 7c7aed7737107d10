// Text files in an 8-bit code page or, for names it lacks, in UTF-8 behind
// a byte-order mark: on real files, with a code page made for the test
// (Latin-1) so that the same cases hold on every backend.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/platform.h"
#include "support/forwarding_os.h"
#include "support/tempdir.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

const std::string kBom = "\xEF\xBB\xBF";
// "ro-Łódź-日本-😀.txt": letters of Latin-1 and others, two scripts, and
// one beyond the first 65536 characters.
const std::string kName =
    "ro-\xC5\x81\xC3\xB3\x64\xC5\xBA-\xE6\x97\xA5\xE6\x9C\xAC-\xF0\x9F\x98\x80.txt";
const std::string kCafe = "caf\xC3\xA9";  // "café": é is in Latin-1

// Latin-1: the first 256 characters, one byte each. Every piece it
// decodes is kept, to see where a long file was cut.
struct Latin1 {
    std::vector<std::string> decoded;
    os::CodePage cp{[](std::string_view utf8) -> std::optional<std::string> {
                        std::string out;
                        for (std::size_t i = 0; i < utf8.size(); ++i) {
                            auto c = static_cast<unsigned char>(utf8[i]);
                            if (c < 0x80) {
                                out += static_cast<char>(c);
                            } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
                                auto d = static_cast<unsigned char>(utf8[++i]);
                                if ((d & 0xC0) != 0x80) return std::nullopt;
                                out += static_cast<char>(((c & 0x03) << 6) | (d & 0x3F));
                            } else {
                                return std::nullopt;
                            }
                        }
                        return out;
                    },
                    [this](std::string_view bytes) {
                        decoded.emplace_back(bytes);
                        std::string out;
                        for (char ch : bytes) {
                            auto c = static_cast<unsigned char>(ch);
                            if (c < 0x80) {
                                out += ch;
                            } else {
                                out += static_cast<char>(0xC0 | (c >> 6));
                                out += static_cast<char>(0x80 | (c & 0x3F));
                            }
                        }
                        return out;
                    }};
};

TEST(TextFiles, TextThatFitsKeepsItsCodePageAndOtherTextIsUtf8BehindTheMark) {
    Latin1 l;
    const std::string fits = "[batch]\r\nSource:C:\\" + kCafe + "\r\n";
    EXPECT_EQ(os::encode_text(fits, l.cp), "[batch]\r\nSource:C:\\caf\xE9\r\n");
    EXPECT_EQ(os::decode_text("[batch]\r\nSource:C:\\caf\xE9\r\n", l.cp), fits)
        << "an 8-bit file reads as it always did";
    const std::string other = fits + "Target:C:\\" + kName + "\r\n";
    EXPECT_EQ(os::encode_text(other, l.cp), kBom + other) << "the whole file, not one line";
    EXPECT_EQ(os::decode_text(kBom + other, l.cp), other);
    EXPECT_EQ(os::decode_text(kBom, l.cp), "");
    EXPECT_EQ(os::encode_text("", l.cp), "");
}

TEST(TextFiles, CharactersTheCodePageLacksAreEscapedAsTheirNumbers) {
    Latin1 l;
    EXPECT_EQ(os::escape_outside(kName, l.cp),
              "ro-<U+0141>\xC3\xB3\x64<U+017A>-<U+65E5><U+672C>-<U+1F600>.txt");
    EXPECT_EQ(os::escape_outside(kCafe, l.cp), kCafe);
    // Bytes that are no UTF-8 at all are kept as bytes: a lone continuation
    // byte, a cut sequence, a surrogate, an overlong form.
    EXPECT_EQ(os::escape_outside("a\x80z\xE6\x97", l.cp), "a<80>z<E6><97>");
    EXPECT_EQ(os::escape_outside("\xED\xA0\x80\xC0\xAF", l.cp), "<ED><A0><80><C0><AF>");
}

class AppendText : public ::testing::Test {
protected:
    std::string log() const { return dir / "syncfile.log"; }
    os::Status append(const std::string& text) { return os::append_text(log(), text, l.cp); }

    TempDir dir;
    Latin1 l;
};

TEST_F(AppendText, LinesThatFitAreWrittenInTheCodePageFromTheFirstOn) {
    ASSERT_TRUE(append("plain\r\n"));
    ASSERT_TRUE(append(kCafe + "\r\n"));
    EXPECT_EQ(read(log()), "plain\r\ncaf\xE9\r\n");
}

TEST_F(AppendText, AnEightBitLogIsConvertedWholeAtTheFirstLineThatDoesNotFit) {
    write(log(), "old caf\xE9\r\nold plain\r\n");
    ASSERT_TRUE(append(kName + "\r\n"));
    EXPECT_EQ(read(log()), kBom + "old " + kCafe + "\r\nold plain\r\n" + kName + "\r\n");
    // From then on every line is UTF-8, also one that would fit.
    ASSERT_TRUE(append(kCafe + "\r\n"));
    ASSERT_TRUE(append("plain\r\n"));
    EXPECT_EQ(read(log()), kBom + "old " + kCafe + "\r\nold plain\r\n" + kName + "\r\n" + kCafe +
                               "\r\nplain\r\n");
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"syncfile.log"}) << "nothing left beside";
}

TEST_F(AppendText, ANewOrEmptyLogWhoseFirstLineDoesNotFitStartsWithTheMark) {
    ASSERT_TRUE(append(kName + "\r\n"));
    EXPECT_EQ(read(log()), kBom + kName + "\r\n");
    write(log(), "");
    ASSERT_TRUE(append(kName + "\r\n"));
    EXPECT_EQ(read(log()), kBom + kName + "\r\n");
}

TEST_F(AppendText, ALongLogIsConvertedPieceByPieceEachCutAfterALineEnd) {
    // Over two pieces of a megabyte, with lines of odd lengths and both
    // kinds of line end, and a last line without one.
    std::string eight, text;
    for (int i = 0; eight.size() < (5u << 19); ++i) {
        const std::string line = "line " + std::to_string(i) + std::string(i % 97, '\xE9');
        eight += line + (i % 3 ? "\r\n" : "\n");
    }
    eight += "end \xE9";
    write(log(), eight);
    ASSERT_TRUE(append(kName + "\r\n"));
    const std::string converted = read(log());
    ASSERT_TRUE(converted.starts_with(kBom));
    EXPECT_EQ(l.cp.encode(
                  converted.substr(kBom.size(), converted.size() - kBom.size() - kName.size() - 2)),
              eight)
        << "every byte converted, in order";
    EXPECT_TRUE(converted.ends_with("end " + std::string("\xC3\xA9") + kName + "\r\n"));
    ASSERT_GE(l.decoded.size(), 3u) << "read in pieces";
    for (std::size_t i = 0; i + 1 < l.decoded.size(); ++i)
        EXPECT_TRUE(l.decoded[i].ends_with("\n")) << "piece " << i << " cut inside a line";
}

// The conversion's rename fails.
class NoRename : public os::ForwardingOs {
public:
    using ForwardingOs::ForwardingOs;
    os::Status rename_replace(const std::string& f, const std::string&) override {
        return std::unexpected(os::make_error(os::Errc::io, "rename", f, "injected failure"));
    }
};

TEST_F(AppendText, ALogThatCannotBeConvertedStaysAsItWasAndGetsTheLineEscaped) {
    const std::string old = "old caf\xE9\r\n";
    write(log(), old);
    {
        NoRename failing(os::native());
        os::ScopedOs use(failing);
        ASSERT_TRUE(append(kCafe + " " + kName + "\r\n"));
    }
    EXPECT_EQ(read(log()),
              old + "caf\xE9 ro-<U+0141>\xF3\x64<U+017A>-<U+65E5><U+672C>-<U+1F600>.txt\r\n")
        << "one encoding still: the code page's";
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"syncfile.log"}) << "its copy removed";

    // The same when its copy cannot be written at all.
    mkdirs(log() + ".tmp");
    ASSERT_TRUE(append(kName + "\r\n"));
    EXPECT_FALSE(read(log()).starts_with(kBom));
    EXPECT_TRUE(read(log()).ends_with("-<U+1F600>.txt\r\n"));
}

TEST_F(AppendText, AReadOnlyLogIsNeverReplaced) {
    const std::string old = "old caf\xE9\r\n";
    write(log(), old);
    const auto id = os::native().identity(log()).value();
    fs::permissions(log(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    // Appended to only where this user may still write it (root on POSIX),
    // and then in its own encoding.
    const bool appended = append(kName + "\r\n").has_value();
    EXPECT_EQ(
        read(log()),
        appended ? old + "ro-<U+0141>\xF3\x64<U+017A>-<U+65E5><U+672C>-<U+1F600>.txt\r\n" : old);
    EXPECT_EQ(os::native().identity(log()).value(), id) << "replaced";
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"syncfile.log"});
    fs::permissions(log(), fs::perms::owner_all);
}

TEST_F(AppendText, ALogThatCannotBeReadGetsNoLineThatDependsOnItsEncoding) {
    mkdirs(log());  // a directory in its place: neither read nor appended to
    EXPECT_FALSE(append(kCafe + "\r\n"));
    EXPECT_FALSE(append(kName + "\r\n"));
    EXPECT_FALSE(append("plain\r\n"));
}

}  // namespace
}  // namespace qm::test
