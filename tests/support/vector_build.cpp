#include "vector_build.h"

#include <gtest/gtest.h>

const OrvexVectorTile &vector_read_back(Orvex &reader, const std::string &path)
{
    static const OrvexVectorTile none;
    EXPECT_EQ(reader.setInput(path.c_str(), 0, nullptr), 0) << testing::PrintToString(vector_take_messages());
    EXPECT_EQ(reader.frame.nresolutions, 1);
    if (reader.frame.nresolutions != 1 || reader.frame.resolutions[0].map_type != ORVEX_MAP_VECTOR)
        return none;
    return static_cast<OrvexVector *>(reader.frame.resolutions[0].data)->tiles[0];
}
