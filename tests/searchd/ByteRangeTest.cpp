#include "searchd/http/ByteRange.h"

#include <gtest/gtest.h>

namespace {

struct RangeRow {
    const char* name;
    const char* header;
    ByteRange::Kind kind;
    qint64 first;
    qint64 length;
};

class ByteRangeRows : public ::testing::TestWithParam<RangeRow> {};

using Kind = ByteRange::Kind;

} // namespace

TEST_P(ByteRangeRows, OfAThousandByteFile) {
    const RangeRow& row = GetParam();
    const ByteRange range = ByteRange::parse(row.header, 1000);
    EXPECT_EQ(range.kind, row.kind);
    if (row.kind != Kind::Unsatisfiable) {
        EXPECT_EQ(range.first, row.first);
        EXPECT_EQ(range.length, row.length);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ByteRangeRows,
    ::testing::Values(RangeRow{"none", "", Kind::Whole, 0, 1000},
                      RangeRow{"closed", "bytes=0-3", Kind::Part, 0, 4},
                      RangeRow{"middle", "bytes=100-199", Kind::Part, 100, 100},
                      RangeRow{"open", "bytes=990-", Kind::Part, 990, 10},
                      RangeRow{"pastEndClamped", "bytes=900-5000", Kind::Part, 900, 100},
                      RangeRow{"lastByte", "bytes=999-999", Kind::Part, 999, 1},
                      RangeRow{"suffix", "bytes=-10", Kind::Part, 990, 10},
                      RangeRow{"suffixLongerThanFile", "bytes=-5000", Kind::Part, 0, 1000},
                      RangeRow{"startsAtEnd", "bytes=1000-", Kind::Unsatisfiable, 0, 0},
                      RangeRow{"startsPastEnd", "bytes=2000-3000", Kind::Unsatisfiable, 0, 0},
                      RangeRow{"emptySuffix", "bytes=-0", Kind::Unsatisfiable, 0, 0},
                      RangeRow{"severalRanges", "bytes=0-1,5-6", Kind::Whole, 0, 1000},
                      RangeRow{"backwards", "bytes=20-10", Kind::Whole, 0, 1000},
                      RangeRow{"otherUnit", "items=0-1", Kind::Whole, 0, 1000},
                      RangeRow{"notNumbers", "bytes=a-b", Kind::Whole, 0, 1000},
                      RangeRow{"negative", "bytes=--5", Kind::Whole, 0, 1000},
                      RangeRow{"huge", "bytes=99999999999999999999-", Kind::Whole, 0, 1000}),
    [](const ::testing::TestParamInfo<RangeRow>& row) { return std::string(row.param.name); });

TEST(ByteRange, EmptyFileHasNoPart) {
    EXPECT_EQ(ByteRange::parse("bytes=0-", 0).kind, Kind::Unsatisfiable);
    EXPECT_EQ(ByteRange::parse("bytes=-1", 0).kind, Kind::Unsatisfiable);
    EXPECT_EQ(ByteRange::parse("", 0).kind, Kind::Whole);
}
