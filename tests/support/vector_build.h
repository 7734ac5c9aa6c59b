// A small build of a vector map file for the tests: one input, one output
// in a temporary folder, and standard output captured around each call.
#ifndef ORVEX_TEST_VECTOR_BUILD_H
#define ORVEX_TEST_VECTOR_BUILD_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "OrvexInternal.h"
#include "gshhs_files.h"
#include "vector_fixtures.h"

struct VectorBuildCase {
    VectorTempDir dir;
    Orvex input;
    Orvex output;
    std::string in_path, out_path;
    std::string out;  // standard output of the last capture

    int openGshhs(const std::vector<GshhsPolygon> &polys, GshhsLayout layout = GshhsLayout::New44)
    {
        in_path = dir.write("in.gshhs", gshhs_file_bytes(polys, layout));
        return input.setInput(in_path.c_str(), 0, nullptr);
    }
    int openOutput(const char *name = "out.orx")
    {
        out_path = dir.path(name);
        return output.setOutput(out_path.c_str());
    }
    int declare(int nlat, int nlon, int out_res = -1, int fill = 0, int level = 0,
                const char *name = "coast", const char *label = "full", Orvex *in = nullptr)
    {
        testing::internal::CaptureStdout();
        int rc = output.setResolutionHdrVector(in ? in : &input, 0, 0, nlat, nlon, out_res, fill,
                                               level, name, label);
        out = testing::internal::GetCapturedStdout();
        return rc;
    }
    int writeAll()
    {
        testing::internal::CaptureStdout();
        int rc = output.writeDataVector();
        out = testing::internal::GetCapturedStdout();
        return rc;
    }
    std::string bytes() const { return vector_read_file(out_path); }
};

// Opens the built file as an input and returns its only tile (an empty
// one, after a recorded failure, when the file does not open).
const OrvexVectorTile &vector_read_back(Orvex &reader, const std::string &path);

#endif
