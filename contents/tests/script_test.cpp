#include "contents/script.h"

#include <gtest/gtest.h>

#include <deque>

using namespace tarn::contents;

namespace {

// Records what the script asked of a person and answers from a script.
class RecordingHost : public ScriptHost {
public:
    std::vector<std::string> errors;
    std::vector<std::pair<std::string, int>> boxes;
    std::vector<std::pair<std::string, std::string>> executed;
    std::deque<bool> boxAnswers;
    std::deque<std::string> inputs;
    bool executeWorks = true;

    void ReportScriptError(int, int, std::string_view message) override {
        errors.emplace_back(message);
    }
    bool MsgBox(std::string_view text, int kind) override {
        boxes.emplace_back(text, kind);
        bool yes = boxAnswers.empty() ? true : boxAnswers.front();
        if (!boxAnswers.empty()) {
            boxAnswers.pop_front();
        }
        return yes;
    }
    bool Execute(std::string_view program, std::string_view parameters) override {
        executed.emplace_back(program, parameters);
        return executeWorks;
    }
    std::string InputFileDialog(std::string_view title, std::string_view) override {
        return "in:" + std::string(title);
    }
    std::string StrInputDialog(const std::vector<std::string>& args) override {
        std::string s = inputs.empty() ? "" : inputs.front();
        if (!inputs.empty()) {
            inputs.pop_front();
        }
        return s + std::to_string(args.size());
    }
};

std::tm fixedTime() {
    std::tm t{};
    t.tm_year = 2001 - 1900;
    t.tm_mon = 11;  // December
    t.tm_mday = 24;
    t.tm_wday = 1;
    t.tm_hour = 9;
    t.tm_min = 5;
    return t;
}

// Lines joined with CR LF, as the editor stores them.
std::string crlf(std::initializer_list<std::string_view> lines) {
    std::string s;
    for (auto l : lines) {
        s += l;
        s += "\r\n";
    }
    return s;
}

struct Outcome {
    int result = -1;
    std::string output;
    std::optional<ScriptError> error;
    std::vector<std::string> messages;
};

Outcome runScript(std::string_view script, const std::vector<ScriptVariable>& vars = {},
                  RecordingHost* given = nullptr) {
    RecordingHost local;
    RecordingHost& host = given != nullptr ? *given : local;
    ScriptEngine engine(host);
    engine.setClock(fixedTime);
    Outcome o;
    if (engine.LoadScript(script) == 1) {
        o.result = engine.RunScript(o.output, vars);
    } else {
        o.result = -1;
    }
    o.error = engine.lastError();
    o.messages = host.errors;
    return o;
}

int errorOf(std::string_view script) {
    Outcome o = runScript(script);
    return o.error ? o.error->number : 0;
}

MergeValues honorific(std::string value) {
    MergeValues v;
    v[4] = std::move(value);
    return v;
}

const std::string kOnchu = "\x8c\xe4\x92\x86";  // 御中
const std::string kSama = "\x97\x6c";           // 様

}  // namespace

TEST(ScriptCompile, TextLinesAndDoubleHash) {
    Outcome o = runScript(crlf({"Dear &[Freefield1],", "", "##1 is # here", " #If text"}));
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.output, crlf({"Dear &[Freefield1],", "", "#1 is # here", " #If text"}));

    // A lone CR ends a line too, an LF at a line start is skipped, and a last
    // line without a line end still gets one.
    EXPECT_EQ(runScript("a\rb\r\nc").output, crlf({"a", "b", "c"}));
}

TEST(ScriptCompile, TokensCommentsAndLimits) {
    ScriptEngine engine;
    ASSERT_EQ(engine.LoadScript(crlf({"#x = \"a b\" + Str(12) ' remark", "#' only a remark", "#  ",
                                      "#&[\x89\xef\x8e\xd0\x96\xbc]=1", "#iF a<=b tHEN"})),
              1);
    const auto lines = engine.compiledLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], (std::vector<std::string>{"x", "=", "\"a b", "+", "Str", "(", "12", ")"}));
    EXPECT_EQ(lines[1], (std::vector<std::string>{"&[\x89\xef\x8e\xd0\x96\xbc]", "=", "1"}));
    EXPECT_EQ(lines[2], (std::vector<std::string>{"iF", "a", "<", "=", "b", "tHEN"}));

    // 256 bytes with the "#" are allowed, 257 are not; likewise 100 and 101 tokens.
    EXPECT_EQ(errorOf("#x = \"" + std::string(256 - 7, 'a') + "\""), 0);
    Outcome longLine = runScript("text\r\n#x = \"" + std::string(257 - 7, 'a') + "\"\r\n");
    ASSERT_TRUE(longLine.error);
    EXPECT_EQ(longLine.error->number, 1);
    EXPECT_EQ(longLine.messages, (std::vector<std::string>{"１行が長すぎます。 (Line=2)"}));
    std::string tokens100 = "#Print 1";
    for (int i = 0; i < 49; ++i) {
        tokens100 += "+1";
    }
    EXPECT_EQ(errorOf(tokens100), 0);
    EXPECT_EQ(errorOf(tokens100 + "+"), 2);
    EXPECT_EQ(errorOf("#x = \"open"), 3);
}

TEST(ScriptCompile, LoadStopsAtFirstErrorButKeepsEarlierLines) {
    ScriptEngine engine;
    EXPECT_EQ(engine.LoadScript(crlf({"first", "#x = \"open", "never"})), 0);
    std::string out;
    EXPECT_EQ(engine.RunScript(out, {}), 1);
    EXPECT_EQ(out, "first\r\n");
}

TEST(ScriptCompile, HostileBytesNeverReadPastTheLine) {
    // Half a double-byte character at the end of a statement line, in a string
    // and in a word; a lead byte before the CR must not swallow it.
    EXPECT_EQ(errorOf("#x = \"\x82"), 3);
    EXPECT_EQ(errorOf("#x\x82\r\nplain"), 4);
    EXPECT_EQ(errorOf("#Print \"a\x82\""), 3);  // the lead byte takes the quote
    EXPECT_EQ(runScript("z\x82").output, "z\x82\r\n");
    // Huge constants are read as the largest 32-bit number.
    EXPECT_EQ(runScript("#Print 99999999999999999999").output, "2147483647\r\n");
    // Deep parentheses are bounded by the token limit and fail cleanly.
    EXPECT_EQ(errorOf("#x = " + std::string(95, '(') + "1"), 9);
}

TEST(ScriptRun, ExitSubGivesEmptyOutputAndSuccess) {
    Outcome o = runScript(crlf({"#Exit Sub", "never"}));
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.output, "");
    Outcome end = runScript(crlf({"before", "#End", "after"}));
    EXPECT_EQ(end.result, 0);
    EXPECT_EQ(end.output, "before\r\n");
    EXPECT_FALSE(end.error);  // End stops without a message
}

TEST(ScriptRun, IfElseChoosesByHonorific) {
    const std::string script = crlf({"#If &[\x8c\x68\x8f\xcc] = \"" + kOnchu + "\" Then",
                                     "Dear all", "#Else", "Dear you", "#End If", "Bye"});
    EXPECT_EQ(runScript(script, makeMergeVariables(honorific(kOnchu))).output,
              crlf({"Dear all", "Bye"}));
    EXPECT_EQ(runScript(script, makeMergeVariables(honorific(kSama))).output,
              crlf({"Dear you", "Bye"}));
    // Keywords in any case; nested blocks; no Else.
    EXPECT_EQ(
        runScript(crlf({"#IF 1 THEN", "#if 0 then", "no", "#end if", "yes", "#END IF"})).output,
        "yes\r\n");
}

TEST(ScriptRun, BlockErrors) {
    EXPECT_EQ(errorOf(crlf({"#If 1", "#End If"})), 4);     // no Then
    EXPECT_EQ(errorOf(crlf({"#If Then", "#End If"})), 4);  // no condition
    EXPECT_EQ(errorOf(crlf({"#If 1 Then", "x"})), 6);
    EXPECT_EQ(errorOf(crlf({"#Do While 0", "x"})), 5);
    EXPECT_EQ(errorOf(crlf({"#Do Until 1", "#Loop"})), 4);
    EXPECT_EQ(errorOf(crlf({"#If \"a\" Then", "#End If"})), 7);
    EXPECT_EQ(errorOf("#Else"), 4);
    EXPECT_EQ(errorOf("#Loop"), 4);
    EXPECT_EQ(errorOf("#End If"), 4);
    EXPECT_EQ(errorOf("#Exit"), 4);
    // A second Else is reported at its own line.
    Outcome twoElse = runScript(crlf({"#If 1 Then", "#Else", "", "#Else", "#End If"}));
    ASSERT_TRUE(twoElse.error);
    EXPECT_EQ(twoElse.error->number, 4);
    EXPECT_EQ(twoElse.error->line, 4);
    // A block is matched inside the range being run: an End If beyond the Loop
    // does not close an If inside the loop.
    EXPECT_EQ(errorOf(crlf({"#Do While 1", "#If 1 Then", "#Loop", "#End If"})), 6);
    // Blocks are examined only when reached.
    EXPECT_EQ(runScript(crlf({"#Exit Sub", "#If 1 Then"})).result, 1);
}

TEST(ScriptRun, DoWhileWithExitDo) {
    Outcome o =
        runScript(crlf({"#i = 0", "#Do While i < 10", "#i = i + 1", "#If i = 3 Then", "#Exit Do",
                        "#End If", "#Print i;", "#Loop", "#Print", "#Print i"}));
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.output, "12\r\n3\r\n");
    // Nested loops: Exit Do leaves only the inner one.
    Outcome nested = runScript(crlf({"#a = 0", "#Do While a < 2", "#a = a + 1", "#Do While 1",
                                     "#Print a;", "#Exit Do", "#Loop", "#Loop"}));
    EXPECT_EQ(nested.output, "12");
    // Exit Do outside any loop ends the script normally.
    Outcome outside = runScript(crlf({"a", "#Exit Do", "b"}));
    EXPECT_EQ(outside.result, 1);
    EXPECT_EQ(outside.output, "a\r\n");
}

TEST(ScriptRun, EndlessLoopsAndOutputAreBounded) {
    RecordingHost host;
    ScriptEngine engine(host);
    engine.setStepLimit(10'000);
    ASSERT_EQ(engine.LoadScript(crlf({"#Do While True", "#x = 1", "#Loop"})), 1);
    std::string out;
    EXPECT_EQ(engine.RunScript(out, {}), 0);
    ASSERT_TRUE(engine.lastError());
    EXPECT_EQ(engine.lastError()->number, 25);
    EXPECT_EQ(engine.lastError()->line, 2);

    engine.setOutputLimit(1000);
    ASSERT_EQ(engine.LoadScript(crlf({"#Do While True", "0123456789", "#Loop"})), 1);
    EXPECT_EQ(engine.RunScript(out, {}), 0);
    EXPECT_EQ(engine.lastError()->number, 24);
    EXPECT_LE(out.size(), 1000u);
    EXPECT_EQ(out.substr(0, 12), "0123456789\r\n");

    // With the default limits an endless loop still ends.
    ScriptEngine defaults;
    ASSERT_EQ(defaults.LoadScript(crlf({"#Do While 1", "#Loop"})), 1);
    EXPECT_EQ(defaults.RunScript(out, {}), 0);
    EXPECT_EQ(defaults.lastError()->number, 25);
}

TEST(ScriptRun, PrintSeparators) {
    EXPECT_EQ(runScript("#Print 1; 2").output, "12\r\n");
    EXPECT_EQ(runScript("#Print 1, 2").output, "12\r\n");
    EXPECT_EQ(runScript(crlf({"#Print 1;", "#Print \"x\""})).output, "1x\r\n");
    EXPECT_EQ(runScript("#Print Str(1 + 2), \"a\" + \"b\"").output, "3ab\r\n");
    EXPECT_EQ(runScript("#Print 0 - 1").output, "-1\r\n");
    EXPECT_EQ(errorOf("#Print 1;; 2"), 12);
    EXPECT_EQ(errorOf("#Print ;"), 12);
    EXPECT_EQ(errorOf("#Print Str(1"), 9);
}

TEST(ScriptRun, ExpressionsAndTypeErrors) {
    EXPECT_EQ(runScript("#Print 2 + 3 * 4 - 6 / 4").output, "13\r\n");
    EXPECT_EQ(runScript("#x = (2 + 3) * 4\r\n#Print x").output, "20\r\n");
    // "(" right after the first word makes a call statement, even after Print.
    EXPECT_EQ(errorOf("#Print (2 + 3) * 4"), 4);
    EXPECT_EQ(runScript("#Print 7 / (0 - 2)").output, "-3\r\n");  // toward zero
    EXPECT_EQ(runScript("#Print 1 < 2 And 2 <> 3").output, "-1\r\n");
    EXPECT_EQ(runScript("#Print 1 >= 2 Or 0").output, "0\r\n");
    EXPECT_EQ(runScript("#Print \"abc\" < \"abd\"").output, "-1\r\n");
    EXPECT_EQ(runScript("#Print \"\x82\xa0\" > \"z\"").output, "-1\r\n");  // unsigned bytes
    EXPECT_EQ(runScript("#Print 2147483647 + 1").output, "-2147483648\r\n");
    EXPECT_EQ(runScript("#Print 0 + (0 - 2147483647 - 1) / (0 - 1)").output, "-2147483648\r\n");
    EXPECT_EQ(errorOf("#x = 1 + \"a\""), 13);
    EXPECT_EQ(errorOf("#x = \"a\" - \"b\""), 14);
    EXPECT_EQ(errorOf("#x = \"a\" And \"b\""), 14);
    EXPECT_EQ(errorOf("#x = 1 / 0"), 15);
    EXPECT_EQ(errorOf("#x = -1"), 12);
    EXPECT_EQ(errorOf("#x = 1 2"), 12);
    EXPECT_EQ(errorOf("#x = 1)"), 8);
    EXPECT_EQ(errorOf("#x = (1"), 9);
    EXPECT_EQ(errorOf("#x = 1 . 2"), 11);
    EXPECT_EQ(errorOf("#x = nothing"), 10);
    EXPECT_EQ(errorOf("#x ="), 4);
    EXPECT_EQ(errorOf("#1 = x"), 4);
    EXPECT_EQ(errorOf("#And = 1"), 4);
    EXPECT_EQ(errorOf("#_x = 1"), 4);
    EXPECT_EQ(errorOf("#Jump 1"), 10);
    EXPECT_EQ(errorOf("#Frobnicate"), 4);
}

TEST(ScriptRun, VariablesInTextLines) {
    Outcome o = runScript(crlf({"#m = Str(Month)", "#Print Month", "month &[M] &[m]!",
                                "&[\x8c\x68\x8f\xcc] stays for the merge", "&[unknown] &[m"}),
                          makeMergeVariables(honorific(kSama)));
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.output, crlf({"12", "month 12 12!", "&[\x8c\x68\x8f\xcc] stays for the merge",
                              "&[unknown] &[m"}));
    EXPECT_EQ(errorOf("&[Month]"), 13);
    EXPECT_EQ(runScript("#Print Yar; Day; Week; Hour; Minute").output, "200124195\r\n");
    // Assigning changes the type; names are matched without case.
    EXPECT_EQ(runScript(crlf({"#v = 1", "#V = \"s\"", "[&[v]]"})).output, "[s]\r\n");
    // The variable table is rebuilt for every run.
    ScriptEngine engine;
    ASSERT_EQ(engine.LoadScript(crlf(
                  {"#If n = Null Then", "#n = \"\"", "#End If", "#n = n + \"x\"", "#Print n"})),
              1);
    std::string out;
    engine.RunScript(out, {{"n", ScriptValue::ofString("")}});
    engine.RunScript(out, {{"n", ScriptValue::ofString("")}});
    EXPECT_EQ(out, "x\r\n");
}

TEST(ScriptRun, EachRecipientStartsAfresh) {
    // One engine serves a whole send: a failed run leaves nothing behind for
    // the next recipient, and every run sees only its own values.
    ScriptEngine engine;
    ASSERT_EQ(engine.LoadScript(crlf({"#If &[Freefield1] = \"bad\" Then", "#x = 1 / 0", "#End If",
                                      "#Do While Len < 2", "#Len = Len + 1", "#Loop",
                                      "#Print &[Freefield1]; Len"})),
              1);
    auto vars = [](const std::string& value) {
        MergeValues v;
        v[5] = value;
        auto list = makeMergeVariables(v);
        list.push_back({"Len", ScriptValue::ofNumber(0)});
        return list;
    };
    std::string out;
    EXPECT_EQ(engine.RunScript(out, vars("one")), 1);
    EXPECT_EQ(out, "one2\r\n");
    EXPECT_EQ(engine.RunScript(out, vars("bad")), 0);
    EXPECT_EQ(engine.lastError()->number, 15);
    EXPECT_EQ(engine.RunScript(out, vars("three")), 1);
    EXPECT_FALSE(engine.lastError());
    EXPECT_EQ(out, "three2\r\n");
}

TEST(ScriptRun, ErrorReportsCountEveryLine) {
    Outcome o = runScript(crlf({"text", "", "#' remark", "#", "#x = 1 / 0"}));
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.output, "text\r\n\r\n");
    EXPECT_EQ(o.messages, (std::vector<std::string>{"0 で除算しました。 (Line=5)"}));
    EXPECT_EQ(formatScriptError(6, 12), "If に対応する End If ｽﾃｰﾄﾒﾝﾄがありません。 (Line=12)");
}

TEST(ScriptRun, PersonFacingCallsGoThroughTheHost) {
    RecordingHost host;
    host.boxAnswers = {false, true};
    host.inputs = {"typed"};
    Outcome o = runScript(
        crlf({"#MsgBox \"hello\"", "#Print MsgBox(\"sure?\", 2)", "#Execute \"/bin/prog\", \"-x\"",
              "#Print InputFileDialog(\"T\", 3)", "#Print StrInputDialog(1, \"a\")",
              "#Print SelectDialog(\"a\", \"b\", \"c\")"}),
        {}, &host);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.output, crlf({"-1", "in:T", "typed2", "0"}));
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[1], (std::pair<std::string, int>{"sure?", 2}));
    ASSERT_EQ(host.executed.size(), 1u);
    EXPECT_EQ(host.executed[0].second, "-x");

    host.executeWorks = false;
    Outcome failed = runScript("#x = Execute(\"prog\")", {}, &host);
    EXPECT_EQ(failed.error->number, 17);
    // Nobody there: the default host starts nothing and answers boxes with Cancel.
    ScriptEngine silent;
    ASSERT_EQ(silent.LoadScript("#Print MsgBox(\"q\", 1); MsgBox(\"ok\")"), 1);
    std::string out;
    EXPECT_EQ(silent.RunScript(out, {}), 1);
    EXPECT_EQ(out, "0-1\r\n");
}

TEST(ScriptRun, ExpressionsReadOnceFailAtTheSamePointOnEveryRun) {
    RecordingHost host;
    ScriptEngine engine(host);
    ASSERT_EQ(engine.LoadScript(crlf({"#If n = 1 Then", "#x = MsgBox(\"before\") + 1 . 2",
                                      "#End If", "#Print n + y"})),
              1);
    auto n = [](std::int32_t v) { return ScriptVariable{"n", ScriptValue::ofNumber(v)}; };
    const ScriptVariable y{"y", ScriptValue::ofNumber(2)};
    std::string out;
    EXPECT_EQ(engine.RunScript(out, {n(0)}), 0);
    EXPECT_EQ(engine.lastError()->number, 10);  // y is not there
    EXPECT_EQ(engine.RunScript(out, {n(0), y}), 1);
    EXPECT_EQ(out, "2\r\n");
    // The box is asked before the stray "." fails the line, on each run.
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(engine.RunScript(out, {n(1), y}), 0);
        EXPECT_EQ(engine.lastError()->number, 11);
        EXPECT_EQ(engine.lastError()->line, 2);
    }
    EXPECT_EQ(host.boxes.size(), 2u);
    // A script loaded in its place is read afresh, though its expression sits
    // where the condition of the old one did.
    ASSERT_EQ(engine.LoadScript("#Print n + 1"), 1);
    EXPECT_EQ(engine.RunScript(out, {n(1)}), 1);
    EXPECT_EQ(out, "2\r\n");
}
