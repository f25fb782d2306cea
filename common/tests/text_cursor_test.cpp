#include "common/text_cursor.h"

#include <gtest/gtest.h>

#include <string>

using namespace tarn;

TEST(TextCursor, StepsAndTakesWithinTheText) {
    const std::string text = "ab\r\ncd\re\n\"x";
    TextCursor in(text);
    EXPECT_FALSE(in.skip('b'));
    EXPECT_TRUE(in.skip('a'));
    EXPECT_EQ(in.takeUntil('\r'), "b");
    EXPECT_TRUE(in.skipLineEnd());  // CR LF as one
    EXPECT_EQ(in.takeUntilAny(',', '\r', '\n'), "cd");
    EXPECT_TRUE(in.skipLineEnd());  // a lone CR
    EXPECT_FALSE(in.skipLineEnd());
    in.advance(1);
    EXPECT_TRUE(in.skipLineEnd());  // a lone LF
    EXPECT_TRUE(in.peekIs('"'));
    // No stop ahead: the rest is taken and the cursor sits at the end.
    EXPECT_EQ(in.takeUntil('"').size(), 0u);
    in.advance(1);
    EXPECT_EQ(in.takeUntil('"'), "x");
    EXPECT_TRUE(in.atEnd());
    EXPECT_FALSE(in.peekIs('x'));
    EXPECT_FALSE(in.skip('x'));
    EXPECT_FALSE(in.skipLineEnd());
    EXPECT_EQ(in.takeUntil('"').size(), 0u);
    EXPECT_EQ(in.takeUntilAny(',', '\r', '\n').size(), 0u);
    in.advance(100);
    EXPECT_EQ(in.offset(), text.size());

    TextCursor late(text, 1000);  // a start beyond the end is the end
    EXPECT_TRUE(late.atEnd());
}

// The word-at-a-time scan must find a stop at every position of a word and
// across words, and must not be fooled by bytes next to the stops' values or by
// high bytes (Shift_JIS and UTF-8 text), whose borrows can flag a byte that is
// no stop.
TEST(TextCursor, TakeUntilAnyFindsTheFirstStopWhereverItIs) {
    const std::string fillers[] = {"a", "+", "-", "\x0C", "\x0E", "\x82", "\xFF", "\x80"};
    for (const std::string& filler : fillers) {
        for (std::size_t length = 0; length < 26; ++length) {
            for (std::size_t at = 0; at <= length; ++at) {
                std::string text;
                for (std::size_t i = 0; i < length; ++i) {
                    text += filler;
                }
                if (at < length) {
                    text[at] = "\n,\r"[at % 3];
                }
                for (const std::size_t from : {std::size_t{0}, std::size_t{3}}) {
                    if (from > text.size()) {
                        continue;
                    }
                    TextCursor in(text, from);
                    const std::size_t stop = text.find_first_of(",\r\n", from);
                    const std::size_t expected = stop == std::string::npos ? text.size() : stop;
                    const std::string_view taken = in.takeUntilAny(',', '\r', '\n');
                    ASSERT_EQ(in.offset(), expected)
                        << "filler " << int(filler[0]) << " length " << length << " stop at " << at;
                    ASSERT_EQ(taken.size(), expected - from);
                    ASSERT_EQ(taken.data(), text.data() + from);
                }
            }
        }
    }
}
