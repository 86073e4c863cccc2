// The set-up dialogue and the report, through the real binary: the console
// and file text, the layout of the digit lines, and every way the dialogue
// refuses a run.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "support/program.h"

namespace drmpi_test {
namespace {

const std::string IdPrompt =
    " Type In ID, (ID=1,2,3)      \n 1;Chudnovsky, 2;Fast-Ramanujan 3;Free-Sqrt         \n";
const std::string NPrompt = " Type In N (N=Number of Pi Decimal-Digits) \n";
const std::string Title = " ** Pi Computation by DRM with Ramanujan";
const std::string NotNumber = " ** A whole decimal number is expected \n";

Outcome dialogue(const std::string& input, const std::string& setup = "") {
    return run("", input, "RamnDRM1.txt", setup);
}

// Times and the rounding error vary from run to run: their digits and signs
// become '#', while the widths the formats give stay visible.
std::string mask(std::string text) {
    const std::regex number("(Time=|Error=) *[0-9.e+-]+");
    for (std::sregex_iterator m(text.begin(), text.end(), number), end; m != end; ++m)
        for (auto at = m->position() + m->length(1); at < m->position() + m->length(); ++at)
            if (std::strchr("0123456789+-", text[at]) != nullptr) text[at] = '#';
    return text;
}

// N = 20 of ID 1, typed on two lines or one.  An ID outside the menu runs
// Chudnovsky without a word: its console, its file and its 2 steps (the
// other series take 3 and 4).
TEST(Dialogue, Id1N20ConsoleAndFile) {
    for (const std::string id :
         {"1\n20\n", "1 20", "0 20", "4 20", "-7 20", "99999999999999999999 20"}) {
        const auto r = dialogue(id);
        EXPECT_EQ(r.status, 0) << id;
        EXPECT_EQ(mask(r.console), IdPrompt + NPrompt + Title + " \n"
                                   "  ID=1,  Pi Decimal=20,  FMT Size=8\n"
                                   "  DRM Steps= 2,  FMT Size= 8 \n"
                                   "  DRM Step=  1,  Time=    #.## (s)\n"
                                   "  DRM Step=  2,  Time=    #.## (s)\n"
                                   "  Total Time= #.###### (s)  Rounding Error= #.######e### \n")
            << id;
        // The step lines stay on the console; the file ends without a newline.
        EXPECT_EQ(mask(r.file), Title + " ** \n"
                                "  ID=1,  Pi Decimal=20,  FMT Size=8\n"
                                "  DRM Steps= 2,  FMT Size= 8 \n"
                                "  Total Time= #.###### (s)  Rounding Error= #.######e### \n"
                                "  Pi = 3. \n"
                                "        1 1415926535 8979323846")
            << id;
    }
}

// Numbers are whitespace-separated tokens, on one line or several; any other
// token gets a message and the same question again.
TEST(Dialogue, ReadsTokensAndAsksAgain) {
    const auto r = dialogue("abc 1.5\n2x 1\n- 20e0 20\n");
    EXPECT_EQ(r.status, 0);
    const std::string id_again = IdPrompt + NotNumber, n_again = NPrompt + NotNumber;
    const std::string dialogue = id_again + id_again + id_again + IdPrompt + n_again + n_again +
                                 NPrompt + Title + " \n  ID=1,  Pi Decimal=20,  FMT Size=8\n";
    EXPECT_EQ(r.console.substr(0, dialogue.size()), dialogue);
    EXPECT_EQ(file_digits(r.file), pi_reference(20));
}

// Runs that must stop with status 1 after exactly the given console text:
// the input ended, N below 1, N beyond the capacity, where the header still
// shows the true rounded N and FMT size.  Each runs twice: in an empty
// folder, where it must leave no file at all, and beside an earlier result,
// which it must leave exactly as it was.
TEST(Dialogue, StopsWriteNothing) {
    const std::string ended = " ** Error Stop ** input ended before a number \n",
                      asked = IdPrompt + NPrompt, below = asked + " ** Error Stop ** N < 1 \n";
    const auto beyond = [&](const std::string& sizes) {
        return asked + Title + " \n" + (sizes.empty() ? "" : "  ID=1,  " + sizes + "\n") +
               " ** Error Stop ** N > ND \n";
    };
    const struct { std::string input, console; } cases[] = {
        {"", IdPrompt + ended},
        {"1", asked + ended},
        {"1 abc", asked + NotNumber + NPrompt + ended},
        // A typo in the ID is asked again, so the N meant becomes the ID.
        {"3x\n1000\n", IdPrompt + NotNumber + asked + ended},
        {"1 0", below},  {"1 -5", below},  {"1 -0", below},
        {"1 -99999999999999999999999", below},
        // 1310701 is the smallest N that stops; past 64 bits no size can be shown.
        {"1 1310701", beyond("Pi Decimal=1310705,  FMT Size=524288")},
        {"1 2147483647", beyond("Pi Decimal=2147483650,  FMT Size=536870912")},
        {"1 99999999999", beyond("Pi Decimal=100000000000,  FMT Size=34359738368")},
        {"1 9223372036854775807",
         beyond("Pi Decimal=9223372036854775810,  FMT Size=2305843009213693952")},
        {"1 123456789012345678901234567890", beyond("")},
    };
    for (const auto& c : cases) {
        for (const bool planted : {false, true}) {
            const auto r = dialogue(c.input, planted ? "echo an earlier result >RamnDRM1.txt" : "");
            SCOPED_TRACE('"' + c.input + (planted ? "\" beside an earlier result" : "\""));
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.console, c.console);
            EXPECT_EQ(r.entries, planted ? std::vector<std::string>{"RamnDRM1.txt"}
                                         : std::vector<std::string>{});
            EXPECT_EQ(r.file, planted ? "an earlier result\n" : "");
        }
    }
}

TEST(Dialogue, UncreatableFileStopsBeforeN) {
    const auto r = dialogue("1 20", "mkdir RamnDRM1.txt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.console, IdPrompt + " ** Error Stop ** cannot create RamnDRM1.txt: " +
                             std::strerror(EISDIR) + " \n");
    EXPECT_EQ(r.entries, std::vector<std::string>{"RamnDRM1.txt"});
}

}  // namespace
}  // namespace drmpi_test
