#include <gtest/gtest.h>

#include "tools/im_sample_file.h"

namespace qv {
namespace {

TEST(ImSampleFile, ReadsSweepPairsAndStepSamples) {
    const ImSampleFile sweep = parseImSampleFile(
        "\xEF\xBB\xBF# recorded on the bench\r\n1200.5,60.25\r\n\r\n  +1300 , 5e1 \n# S=10\n"
        "1400,-0.5",
        ImModel::FrequencyResponse);
    EXPECT_EQ(sweep.amplitudeV, (std::vector<double>{1200.5, 1300.0, 1400.0}));
    EXPECT_EQ(sweep.currentA, (std::vector<double>{60.25, 50.0, -0.5}));

    const ImSampleFile step =
        parseImSampleFile("\n# S = 25\n0.125\n# a comment\n1.5\n\n2.75\n", ImModel::StepResponse);
    EXPECT_EQ(step.samplingInterval, 25);
    EXPECT_EQ(step.currentA, (std::vector<double>{0.125, 1.5, 2.75}));
}

struct BadFile {
    ImModel model;
    const char* text;
    int line;
    const char* message;  // part of it
};

TEST(ImSampleFile, NamesTheLineOfEveryFault) {
    const ImModel sweep = ImModel::FrequencyResponse, step = ImModel::StepResponse;
    const BadFile cases[] = {
        {sweep, "1,2\n3;4\n5,6\n", 2, "expected 'voltage_mV,current_A'"},
        {sweep, "1,2\n3\n", 2, "found '3'"},
        {sweep, "1,2\n3,4x\n", 2, "found '3,4x'"},
        {sweep, "1,2\n3,4,5\n", 2, "expected"},
        {sweep, "1,2\n3,nan\n", 2, "finite"},
        {sweep, "1,2\n,4\n", 2, "expected"},
        {sweep, "", 0, "no samples"},
        {sweep, "# only a comment\n\n", 0, "no samples"},
        {sweep, "1,2\n", 0, "only 1 point"},
        {step, "0.1\n0.2\n0.3\n", 1, "expected '# S=<sampling interval in 100 us units>'"},
        {step, "# recorded on the bench\n# S=10\n0.1\n", 1, "expected '# S="},
        {step, "# S=0\n0.1\n0.2\n0.3\n", 1, "S must be a whole number from 1 to 32767"},
        {step, "# S=-10\n0.1\n0.2\n0.3\n", 1, "not '-10'"},
        {step, "# S=ten\n0.1\n0.2\n0.3\n", 1, "not 'ten'"},
        {step, "# S=40000\n0.1\n0.2\n0.3\n", 1, "not '40000'"},
        {step, "# S=1.5\n0.1\n0.2\n0.3\n", 1, "not '1.5'"},
        {step, "# S=10\n0.1\n0.2\n1e999\n", 4, "finite"},
        {step, "", 1, "'# S=<sampling interval>' is missing"},
        {step, "# S=10\n", 0, "no samples"},
        {step, "# S=10\n0.1\n0.2\n", 0, "only 1 sample after the zero reference"},
        {step, "# S=10\n0.1\n", 0, "no sample after the zero reference"},
    };
    for (const BadFile& c : cases) {
        try {
            parseImSampleFile(c.text, c.model);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const ImSampleFileError& e) {
            EXPECT_EQ(e.line(), c.line) << c.text;
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << c.text << " -> " << e.what();
        }
    }
}

}  // namespace
}  // namespace qv
