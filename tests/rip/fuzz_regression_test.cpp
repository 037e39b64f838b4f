// Inputs the fuzz targets found faults with, each kept as the case it guards.
// Built in code; the sanitizer build is the one that sees the faults return.
#include "bytes.h"
#include "rip.h"

#include <gtest/gtest.h>

namespace {

ripped_movie play(const std::vector<uint8_t>& bytes, bool interlaced = false) {
    rip_request request;
    request.bytes = &bytes;
    request.interlaced = interlaced;
    request.bind_codec_library = false;
    return rip_to_memory(request);
}

} // namespace

TEST(FuzzRegression, SchlHeaderSizeAtTheLowestIntegerIsNotTakenAsABody) {
    byte_builder b;
    b.tag("SCHl").le32(0x80000000u).zeros(8);
    ripped_movie movie = play(b.bytes);
    EXPECT_EQ(movie.info.kind, kind_schl);
    EXPECT_EQ(movie.pictures(), 0);
}
