#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/im_fit_reference.h"
#include "support/process.h"
#include "tools/im_log.h"

#ifdef QV_CLI_PATH

namespace qv {
namespace {

class ImCli : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("qv_im_cli_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string file(const std::string& name, const std::string& text) {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    static test::ProcessResult run(const std::vector<std::string>& args) {
        std::vector<std::string> all{"fit-im"};
        all.insert(all.end(), args.begin(), args.end());
        return test::runProcess(QV_CLI_PATH, all);
    }

    std::filesystem::path dir_;
};

std::vector<double> numbers(const std::string& text) {
    std::vector<double> v;
    std::istringstream in(text);
    for (std::string word; in >> word;) v.push_back(std::strtod(word.c_str(), nullptr));
    return v;
}

TEST_F(ImCli, PrintsTheFittedParametersThenTheModelValues) {
    const ImFitInput in = test::benchmarkSweep();
    std::string text = "# voltage_mV,current_A\r\n";
    char line[80];
    for (std::size_t k = 0; k < in.y.size(); ++k) {
        std::snprintf(line, sizeof line, "%.17g,%.17g\r\n", in.amplitude[k], in.y[k]);
        text += line;
    }
    const auto r = run({"--mode", "0", file("sweep.csv", text), "--iterations", "300"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ImFitInput expectedInput = in;
    expectedInput.iterations = 300;
    const ImFitResult expected = runFit(expectedInput);
    const std::string first = r.out.substr(0, r.out.find('\n'));
    EXPECT_EQ(std::count(first.begin(), first.end(), ' '), 4);
    const std::vector<double> all = numbers(r.out);
    ASSERT_EQ(all.size(), 5 + in.y.size());
    for (int j = 0; j < 5; ++j) EXPECT_EQ(all[j], expected.parameters[j]);  // %.17g round-trips
    for (std::size_t k = 0; k < in.y.size(); ++k) EXPECT_EQ(all[5 + k], expected.model[k]);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1 + in.y.size());
}

TEST_F(ImCli, StepFileAndLogText) {
    const std::string path = file("step.txt", "# S=10\n0.5\n1.5\n3\n4\n4.5\n4.75\n");
    const auto plain = run({"--mode", "1", path, "--iterations", "40"});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    const std::vector<double> samples{0.5, 1.5, 3, 4, 4.5, 4.75};
    ImFitInput in = stepFitInput(samples, 10);
    in.iterations = 40;
    const ImFitResult expected = runFit(in);
    EXPECT_EQ(numbers(plain.out).size(), 5u + 5u);
    EXPECT_EQ(numbers(plain.out)[1], expected.parameters[1]);

    const auto log = run({"--log", "--mode", "1", path, "--iterations", "40"});
    ASSERT_EQ(log.exitCode, 0) << log.err;
    std::string text = stepLogText(samples, expected.parameters);
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    EXPECT_EQ(log.out, text);
}

TEST_F(ImCli, BadInputIsRefusedWithTheLineNamed) {
    const std::string sweep = file("s.csv", "1200,60\n1300;50\n");
    auto r = run({"--mode", "0", sweep});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(sweep + ":2: expected 'voltage_mV,current_A'"), std::string::npos)
        << r.err;
    EXPECT_TRUE(r.out.empty());

    r = run({"--mode", "1", file("t.txt", "0.1\n0.2\n0.3\n")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(":1: expected '# S="), std::string::npos) << r.err;

    r = run({"--mode", "1", file("u.txt", "# S=0\n0.1\n0.2\n0.3\n")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(":1: S must be"), std::string::npos) << r.err;

    r = run({"--mode", "0", file("v.csv", "# nothing\n")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no samples"), std::string::npos) << r.err;

    r = run({"--mode", "0", file("w.csv", "1200,60\n")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("only 1 point"), std::string::npos) << r.err;

    r = run({"--mode", "2", sweep});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("--mode must be 0 (frequency sweep) or 1 (step response), not '2'"),
              std::string::npos)
        << r.err;

    r = run({"--mode", "0", (dir_ / "missing.csv").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot open"), std::string::npos) << r.err;

    // A first current of zero: the fit has no finite result and prints none.
    r = run({"--mode", "0", file("z.csv", "1200,0\n1300,50\n1400,40\n"), "--iterations", "5"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("no usable result"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty());
}

TEST_F(ImCli, UsageErrors) {
    const std::string sweep = file("s.csv", "1200,60\n1300,50\n");
    for (const std::vector<std::string>& args : {std::vector<std::string>{sweep},
                                                 {"--mode", "0"},
                                                 {"--mode", "0", sweep, sweep},
                                                 {"--mode", "0", sweep, "--iterations", "many"},
                                                 {"--mode", "0", sweep, "--fast"},
                                                 {"--mode", "0", sweep, "--iterations"}}) {
        const auto r = run(args);
        EXPECT_EQ(r.exitCode, 2) << args.size();
        EXPECT_NE(r.err.find("usage: qvcli fit-im --mode 0|1 FILE [--iterations N] [--log]"),
                  std::string::npos)
            << r.err;
    }
}

}  // namespace
}  // namespace qv

#endif
